#!/usr/bin/env bash
# Redraws the program icon from plain drawing commands (the same shapes as qiongzhi.svg): a jade
# tile with a white screen, a play mark and a red recording dot. Writes qiongzhi.png (256 px, the
# Linux icon) and qiongzhi.ico (256/48/32/16 px, the Windows program's icon). Needs ImageMagick;
# the results are kept in the source tree so a build never needs it.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 256x256 xc:none \
  -fill '#12876a' -draw 'roundrectangle 8,8 247,247 48,48' \
  -fill white -draw 'roundrectangle 40,64 215,183 16,16' \
  -fill '#12876a' -draw 'polygon 104,92 104,156 160,124' \
  -fill white -draw 'roundrectangle 96,196 159,207 6,6' \
  -fill '#e53935' -stroke white -strokewidth 8 -draw 'circle 196,60 196,88' \
  -strip PNG32:qiongzhi.png
convert qiongzhi.png -define icon:auto-resize=256,48,32,16 qiongzhi.ico
