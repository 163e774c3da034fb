#!/usr/bin/env bash
# Takes the README's pictures of both windows: the Linux program under Xvfb and the Windows
# program under Wine. Run after scripts/test.sh has built both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/test-env.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch/home"
mkdir -p "$HOME/Documents" docs

shoot() {  # window-title-pattern output-file command...
  local pattern=$1 out=$2
  shift 2
  "$@" >/dev/null 2>&1 &
  local pid=$! id=""
  for _ in $(seq 100); do
    id=$(xdotool search --name "$pattern" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && break
    sleep 0.2
  done
  sleep 3
  # The first start shows the disclaimer: accept it so the window stands alone in the picture.
  for box in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
    [ "$box" = "$id" ] && continue
    case "$(xdotool getwindowname "$box" 2>/dev/null)" in
      *免责*|*信息*|*声明*) xdotool key --window "$box" Return 2>/dev/null || true ;;
    esac
  done
  sleep 2
  [ -n "$id" ] && import -window "$id" "$out"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

mkdir -p "$scratch/linux" "$scratch/windows"
cp build/linux/src/qiongzhi "$scratch/linux/"
shoot '琼枝直播下载v2.7' docs/screenshot-linux.png "$scratch/linux/qiongzhi"
cp build/windows-x86/src/qiongzhi.exe "$scratch/windows/"
shoot '琼枝直播下载v2.7' docs/screenshot-windows.png wine "$scratch/windows/qiongzhi.exe"
wineserver -k || true
echo "screenshots in docs/"
