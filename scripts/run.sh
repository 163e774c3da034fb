#!/usr/bin/env bash
# Sets up this machine (as root), builds the Linux program and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "$(id -u)" = 0 ]; then
  ./scripts/setup.sh
  # Chromium refuses to run as root inside its sandbox.
  export QIONGZHI_BROWSER_FLAGS="${QIONGZHI_BROWSER_FLAGS:---no-sandbox}"
fi
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting on a virtual one (Xvfb :96)." >&2
  Xvfb :96 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  export DISPLAY=:96
  sleep 1
fi
exec ./build/linux/src/qiongzhi "$@"
