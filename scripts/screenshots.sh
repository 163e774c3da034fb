#!/usr/bin/env bash
# Retakes the README's pictures from real runs: both windows in the middle of a recording, taken by
# the main-road tests (Linux: the Qt window; Windows: the Win32 window under Wine, from the
# Windows build this machine can run). Run after scripts/test.sh has built the presets.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/test-env.sh
mkdir -p docs
QZ_E2E_SCREENSHOT="$root/docs/screenshot-linux.png" build/linux/tests/e2e/qz_main_road_tests
picture=$(mktemp --suffix=.bmp)
# The test preset names that build's Wine prefix, loader and Windows ffmpeg.
QZ_E2E_SCREENSHOT="$picture" ctest --preset "$(windows_test_preset)" -R '^qz_wine_road$' --output-on-failure
convert "$picture" docs/screenshot-windows.png
rm -f "$picture"
echo "pictures in docs/"
