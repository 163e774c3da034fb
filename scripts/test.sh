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
failures=()
for preset in "${presets[@]}"; do
  echo "=== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  echo "=== $preset: test"
  failed_list="build/$preset/Testing/Temporary/LastTestsFailed.log"
  rm -f "$failed_list"
  if ! ctest --preset "$preset" -j 2; then
    status=1
    failures+=("$preset: $(tr '\n' ' ' < "$failed_list" 2>/dev/null || echo 'ctest failed')")
  fi
done
if [ $# -eq 0 ] && ! fuzz/run.sh 60; then
  status=1
  failures+=("fuzz: a target found a crash (inputs in build/fuzz/findings)")
fi
# The last lines are what a CI log shows first: name every failure there.
if [ $status -eq 0 ]; then
  echo "=== all passed: ${presets[*]}"
else
  echo "=== FAILED"
  printf '  %s\n' "${failures[@]}"
fi
exit $status
