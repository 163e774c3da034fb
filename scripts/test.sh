#!/usr/bin/env bash
# Builds every preset and runs every test: Linux, Linux under ASan+UBSan, the threaded tests under
# TSan, and the Windows program's tests under Wine + Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/test-env.sh

presets=(linux linux-asan linux-tsan windows-x86)
[ $# -gt 0 ] && presets=("$@")
status=0
for preset in "${presets[@]}"; do
  echo "=== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  echo "=== $preset: test"
  ctest --preset "$preset" -j 2 || status=1
done
[ $# -eq 0 ] && { fuzz/run.sh 60 || status=1; }
exit $status
