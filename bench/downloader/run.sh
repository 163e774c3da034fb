#!/usr/bin/env bash
# The File downloader against curl (one connection) and aria2c (3 connections, 1 MiB pieces) on
# the same loopback file server, each connection capped at 20 MB/s, a 256 MiB file, in two profiles:
# a near server (answers at once) and a far one (50 ms before each answer's first byte).
# Prints wall-time ratios and our peak memory. usage: bench/downloader/run.sh [build dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/linux}
size=$((256 * 1048576))
rate=20000000
cmake --build "$build" --target qz_fetch qz_fixture_serve >/dev/null
for tool in curl aria2c /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/setup.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Seconds of wall time of a command; its peak resident set in KiB goes to $work/rss.
timed() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1
  read -r seconds kib <"$work/time"
  echo "$kib" >"$work/rss"
  echo "$seconds"
}
check() { [ "$(stat -c %s "$1")" = "$size" ] || { echo "wrong size: $1"; exit 1; }; rm -f "$1"; }

profile() {  # <delay ms> <aria2c target>
  coproc SERVER { "$build/tests/fixtures/qz_fixture_serve" /bench.bin "$size" "$rate" "$1"; }
  read -r url <&"${SERVER[0]}"
  local ours ours_rss curl_s aria_s
  ours=$(timed "$build/bench/downloader/qz_fetch" "$url" "$work/ours.bin" 3); ours_rss=$(cat "$work/rss")
  check "$work/ours.bin"
  curl_s=$(timed curl -s -o "$work/curl.bin" "$url"); check "$work/curl.bin"
  aria_s=$(timed aria2c -q -x 3 -s 3 -k 1M --allow-overwrite=true --file-allocation=none -d "$work" -o aria.bin "$url")
  check "$work/aria.bin"
  echo >&"${SERVER[1]}"; wait "$SERVER_PID" 2>/dev/null || true
  awk -v d="$1" -v o="$ours" -v c="$curl_s" -v a="$aria_s" -v m="$ours_rss" -v t="$2" 'BEGIN {
    printf "256 MiB at 20 MB/s per connection, %d ms before each answer\n", d
    printf "  qz_fetch (3 parts) %6.2f s   peak memory %.1f MiB (target below 64)\n", o, m / 1024
    printf "  curl (1 connection) %5.2f s   speed-up %.2fx (target at least 2.5)\n", c, c / o
    printf "  aria2c -x 3 -k 1M  %6.2f s   ours / aria2c %.2f (target at most %s)\n", a, o / a, t
  }'
}

profile 0 1.10
profile 50 1.20
