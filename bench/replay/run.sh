#!/usr/bin/env bash
# The parallel HLS replay download against ffmpeg alone on the same loopback CDN: 150 segments of
# 2 s (about 1 MB each), in two profiles: a far CDN (50 ms before each answer's first byte, 20 MB/s
# per connection) and a near one (no delay, no cap). Prints wall-time ratios and the peak memory of
# our program (ffmpeg, which both ways run, not counted). Each way runs ROUNDS times (default 5),
# the two ways taking turns, and the medians are compared: the machine is shared, and one slow
# moment should not decide the figure.
# usage: [ROUNDS=n] bench/replay/run.sh [build dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/linux}
rounds=${ROUNDS:-5}
cmake --build "$build" --target qz_replay_fetch qz_fixture_serve >/dev/null
for tool in ffmpeg /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/setup.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# 20 s of 720p at 4 Mbit/s, looped to 300 s without re-encoding, cut into 2 s segments.
ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=1280x720:rate=25:duration=20 \
  -f lavfi -i sine=frequency=440:sample_rate=44100:duration=20 -c:v libx264 -preset ultrafast -g 50 \
  -b:v 4M -maxrate 4M -bufsize 4M -pix_fmt yuv420p -c:a aac -f mpegts "$work/source.ts"
mkdir "$work/cdn"
ffmpeg -hide_banner -loglevel error -stream_loop 14 -i "$work/source.ts" -c copy -f hls -hls_time 2 \
  -hls_list_size 0 -hls_playlist_type vod -hls_segment_filename "$work/cdn/s%04d.ts" "$work/cdn/index.m3u8"
segments=$(grep -c '^s' "$work/cdn/index.m3u8")
megabytes=$(du -sm "$work/cdn" | cut -f1)

# Seconds of wall time of a command; its peak resident set in KiB goes to $work/rss.
timed() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
  read -r seconds kib <"$work/time"
  echo "$kib" >"$work/rss"
  echo "$seconds"
}
duration() { ffmpeg -hide_banner -i "$1" 2>&1 | sed -n 's/.*Duration: \([0-9:.]*\).*/\1/p'; }

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

profile() {  # <name> <bytes per second> <delay ms> <target ratio text>
  coproc SERVER { "$build/tests/fixtures/qz_fixture_serve" --folder "$work/cdn" /hls/ "$2" "$3"; }
  read -r base <&"${SERVER[0]}"
  local url="${base}index.m3u8"
  echo "$1"
  # With the preview copy to UDP, as the replay job runs (the peer is the plain way's own command,
  # whose copy goes out at download speed; ours is fed at the replay's own pace by a second ffmpeg
  # that ends with the download), and without it, where only the download and the remux count.
  for preview in 1112 0; do
    local udp=() ours=() alone=() peak=0
    # Both write the file the replay job writes: fragmented MP4, which plays even when cut short.
    local mp4=(-bsf:a aac_adtstoasc -movflags +frag_keyframe+empty_moov+default_base_moof)
    [ "$preview" = 0 ] || udp=(-c copy -f mpegts -y "udp://127.0.0.1:$preview")
    for ((round = 0; round < rounds; ++round)); do
      rm -f "$work"/*.mp4
      ours+=("$(timed "$build/bench/replay/qz_replay_fetch" "$url" "$work/ours.mp4" 16 "$work/peak" "$preview")")
      peak=$(( $(cat "$work/peak") > peak ? $(cat "$work/peak") : peak ))
      alone+=("$(timed ffmpeg -hide_banner -loglevel error -i "$url" "${udp[@]}" -c copy "${mp4[@]}" -y "$work/alone.mp4")")
    done
    awk -v p="$preview" -v o="$(printf '%s\n' "${ours[@]}" | median)" -v a="$(printf '%s\n' "${alone[@]}" | median)" \
        -v m="$peak" -v t="$4" -v n="$rounds" -v os="${ours[*]}" -v as="${alone[*]}" \
        -v d1="$(duration "$work/ours.mp4")" -v d2="$(duration "$work/alone.mp4")" 'BEGIN {
      printf "  %s: ours %6.2f s (our peak memory %.1f MiB, target below 64), ffmpeg alone %6.2f s (medians of %d)\n",
             p == 0 ? "file only       " : "with preview copy", o, m / 1024, a, n
      printf "      ffmpeg / ours %.2fx, ours / ffmpeg %.2f (%s); durations %s and %s\n", a / o, o / a, t, d1, d2
      printf "      each run: ours %s; ffmpeg %s\n", os, as
    }'
  done
  echo >&"${SERVER[1]}"; wait "$SERVER_PID" 2>/dev/null || true
}

echo "$segments segments, $megabytes MB"
profile "far CDN: 50 ms before each answer, 20 MB/s per connection" 20000000 50 "target: ffmpeg / ours at least 5"
profile "near CDN: no delay, no cap" 0 0 "target: ours / ffmpeg at most 1.2"
