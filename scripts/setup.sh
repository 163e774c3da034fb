#!/usr/bin/env bash
# Makes a fresh Debian 12 machine ready to build and test both programs.
# Safe to run again: every step checks or is idempotent. Needs root.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export DEBIAN_FRONTEND=noninteractive

if [ "$(id -u)" != 0 ]; then
  echo "setup.sh must run as root (it installs Debian packages)" >&2
  exit 1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

packages=(
  build-essential g++ cmake ninja-build pkg-config git ca-certificates
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  libcurl4-openssl-dev libssl-dev nlohmann-json3-dev libboost-dev googletest libgtest-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32 wine64 xvfb xauth x11-utils x11-apps imagemagick xdotool
  fonts-noto-cjk fonts-wqy-zenhei fonts-wqy-microhei
  ffmpeg chromium nsis file dpkg-dev
  clang libclang-rt-14-dev
  aria2 time curl
  python3 openssl
)
# npm only fetches a test fixture; a machine with its own Node.js keeps it.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The Windows ffmpeg of each width is a test fixture only: the Windows tests run it under Wine.
# fetch_windows_ffmpeg <fixture folder> <npm package>
fetch_windows_ffmpeg() {
  local fixture="$here/build/fixtures/$1" package=$2
  [ -f "$fixture/ffmpeg.exe" ] && return
  mkdir -p "$fixture/npm"
  (cd "$fixture/npm" && npm install --no-audit --no-fund --silent --force "$package@4.1.0")
  cp "$fixture/npm/node_modules/$package/ffmpeg.exe" "$fixture/ffmpeg.exe"
}
fetch_windows_ffmpeg win32-ffmpeg @ffmpeg-installer/win32-ia32
fetch_windows_ffmpeg win64-ffmpeg @ffmpeg-installer/win32-x64
echo "setup: ready"
