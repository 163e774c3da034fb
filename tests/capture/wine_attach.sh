#!/usr/bin/env bash
# Runs the Windows capture test under Wine against a Linux Chromium started here, headless, with
# its debugging port on loopback. Exit 77 (skipped) when no Chromium is installed.
set -euo pipefail
exe=$1
browser=$(command -v chromium || command -v chromium-browser || command -v google-chrome || true)
[ -n "$browser" ] || { echo "no Chromium-family browser: skipped"; exit 77; }
profile=$(mktemp -d)
chmod 700 "$profile"
"$browser" --headless=new --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
  --disable-component-update --remote-debugging-port=0 --remote-debugging-address=127.0.0.1 \
  --user-data-dir="$profile" about:blank >/dev/null 2>&1 &
pid=$!
# The browser's helpers may still be writing its profile a moment after it ends.
trap 'kill $pid 2>/dev/null || true; wait $pid 2>/dev/null || true; sleep 0.5; rm -rf "$profile" 2>/dev/null || true' EXIT
for _ in $(seq 300); do [ -s "$profile/DevToolsActivePort" ] && break; sleep 0.1; done
[ -s "$profile/DevToolsActivePort" ] || { echo "the browser did not open its debugging port" >&2; exit 1; }
QZ_TEST_DEVTOOLS_PORT=$(head -n1 "$profile/DevToolsActivePort") \
  QZ_TEST_DEVTOOLS_PATH=$(sed -n 2p "$profile/DevToolsActivePort") \
  bash "$(dirname "$0")/../fixtures/wine/run_under_wine.sh" "$exe"
