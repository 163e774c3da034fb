#!/usr/bin/env bash
# Retakes the README's pictures from real runs: both windows in the middle of a recording, taken by
# the main-road tests (Linux: the Qt window; Windows: the Win32 window under Wine). Run after
# scripts/test.sh has built the linux and windows-x86 presets.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/test-env.sh
mkdir -p docs
QZ_E2E_SCREENSHOT="$root/docs/screenshot-linux.png" build/linux/tests/e2e/qz_main_road_tests
picture=$(mktemp --suffix=.bmp)
QZ_E2E_SCREENSHOT="$picture" bash tests/capture/wine_attach.sh build/windows-x86/tests/e2e/qz_wine_road_tests.exe
convert "$picture" docs/screenshot-windows.png
rm -f "$picture"
echo "pictures in docs/"
