#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (default 60 s).
# Exit status non-zero when a target finds a crash; the input is left in build/fuzz/findings.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
seconds=${1:-60}
build="$root/build/fuzz"
command -v clang++ >/dev/null || { echo "fuzz: clang++ missing (scripts/setup.sh installs it)" >&2; exit 1; }
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"
mkdir -p "$build/findings"
status=0
for target in capture_request_fuzzer settings_ini_fuzzer cookies_merge_fuzzer record_playlist_fuzzer; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  seeds="$here/${target%%_*}/corpus"
  echo "=== fuzz: $target for ${seconds}s"
  # libFuzzer's progress runs to megabytes: it goes to a log, and only a finding is shown.
  log="$build/$target.log"
  if ! "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/findings/" "$corpus" "$seeds" >"$log" 2>&1; then
    grep -v -E '^#[0-9]+' "$log" | tail -60
    status=1
  else
    grep -E '^(Done|stat::number_of_executed_units)' "$log" || true
  fi
done
exit $status
