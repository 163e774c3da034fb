#!/usr/bin/env bash
# Builds every preset and runs every test: Linux, Linux under ASan+UBSan, the threaded tests under
# TSan, and the Windows program's tests under Wine + Xvfb. Both Windows builds (32- and 64-bit)
# compile in every run; the 32-bit product's tests run where this machine runs 32-bit programs,
# the 64-bit build's tests (64-bit Wine) where it cannot.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/test-env.sh

presets=(linux linux-asan linux-tsan windows-x64 windows-x86)
[ $# -gt 0 ] && presets=("$@")
windows_tested=$(windows_test_preset)
windows_note=
# A Windows preset's tests run only where this machine can run them; windows-x86 asked for on a
# machine that cannot has the windows-x64 tests run in its place.
tests_run_for() {
  case "$1" in
    windows-x86 | windows-x64) [ "$1" = "$windows_tested" ] ;;
    *) true ;;
  esac
}
if [[ " ${presets[*]} " == *" windows-x86 "* ]] && [ "$windows_tested" = windows-x64 ]; then
  windows_note="=== windows-x86: programs built; its tests need 32-bit programs, which this machine cannot run: the windows-x64 tests ran instead"
  [[ " ${presets[*]} " == *" windows-x64 "* ]] || presets+=(windows-x64)
fi

status=0
failures=()
for preset in "${presets[@]}"; do
  echo "=== $preset: build"
  cmake --preset "$preset" >/dev/null
  if ! tests_run_for "$preset"; then
    # Its test programs are the other Windows build's, which compile and run in this run: the
    # programs themselves are what this width adds, and building only them keeps the run short.
    cmake --build --preset "$preset" -j "$(nproc)" --target qiongzhi qiongzhi-cli
    echo "=== $preset: programs built; its tests do not run on this machine (the $windows_tested tests do)"
    continue
  fi
  cmake --build --preset "$preset" -j "$(nproc)"
  echo "=== $preset: test"
  failed_list="build/$preset/Testing/Temporary/LastTestsFailed.log"
  rm -f "$failed_list"
  if ! ctest --preset "$preset" -j 2; then
    status=1
    failures+=("$preset: $(tr '\n' ' ' < "$failed_list" 2>/dev/null || echo 'ctest failed')")
  fi
done
# Each fuzzer for 40 s: the whole run on a fresh machine stays within its time.
if [ $# -eq 0 ] && ! fuzz/run.sh 40; then
  status=1
  failures+=("fuzz: a target found a crash (inputs in build/fuzz/findings)")
fi
# The last lines are what a CI log shows first: name every failure there.
[ -n "$windows_note" ] && echo "$windows_note"
if [ $status -eq 0 ]; then
  echo "=== all passed: ${presets[*]}"
else
  echo "=== FAILED"
  printf '  %s\n' "${failures[@]}"
fi
exit $status
