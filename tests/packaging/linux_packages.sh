#!/usr/bin/env bash
# Builds the .deb and the .tar.gz with cpack from a Linux build folder, unpacks the .deb into a
# scratch root (dpkg -x) and runs the program as an installed user would: through the launcher,
# which must run a copy in the user's data folder, so data/ lands there and not beside /opt.
# The portable archive must run where it is unpacked. Usage: linux_packages.sh <build folder>
set -euo pipefail
build=$(realpath "$1")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qz-packages.XXXXXX")
program_pid=
cleanup() {
  if [ -n "$program_pid" ]; then kill -KILL "$program_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The program never reaches a real server here: every address points at a closed loopback port.
export QT_QPA_PLATFORM=offscreen
export QIONGZHI_QUOTE_URL=http://127.0.0.1:9/ QIONGZHI_BROWSER_DOWNLOAD_HOST=127.0.0.1:9
export QIONGZHI_TOOL_HOST=127.0.0.1:9 QIONGZHI_UPDATE_PRIMARY=http://127.0.0.1:9/
export QIONGZHI_UPDATE_MIRROR1=http://127.0.0.1:9/ QIONGZHI_UPDATE_MIRROR2=http://127.0.0.1:9/
unset XDG_DATA_HOME
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Starts "$@" in the background, then waits until the program runs and has made its data folder
# in $1 (the folder it must treat as its program folder). Leaves the process running.
start_program() {
  local folder=$1; shift
  "$@" >"$scratch/program.log" 2>&1 &
  program_pid=$!
  for _ in $(seq 100); do
    [ -d "$folder/data" ] && break
    kill -0 "$program_pid" 2>/dev/null || { cat "$scratch/program.log" >&2; fail "$* ended at start"; }
    sleep 0.1
  done
  [ -d "$folder/data" ] || fail "$* made no data folder in $folder"
  sleep 2
  kill -0 "$program_pid" 2>/dev/null || { cat "$scratch/program.log" >&2; fail "$* did not keep running"; }
}
stop_program() {
  kill -TERM "$program_pid" 2>/dev/null || true
  for _ in $(seq 30); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$program_pid" 2>/dev/null || true
  wait "$program_pid" 2>/dev/null || true
  program_pid=
}

echo "--- cpack"
(cd "$build" && cpack -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$scratch"/out/qiongzhi_*_amd64.deb)
tgz=$(ls "$scratch"/out/qiongzhi-*-linux-x86_64.tar.gz)

echo "--- package fields and contents"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in "chromium | google-chrome-stable" "ffmpeg" "libqt6widgets6" "libcurl4"; do
  [[ "$depends" == *"$needed"* ]] || fail "Depends lacks '$needed': $depends"
done
contents=$(dpkg-deb -c "$deb")
for file in ./opt/qiongzhi/qiongzhi ./usr/bin/qiongzhi ./usr/share/applications/qiongzhi.desktop \
    ./usr/share/icons/hicolor/scalable/apps/qiongzhi.svg ./usr/share/icons/hicolor/256x256/apps/qiongzhi.png; do
  grep -q " $file\$" <<<"$contents" || fail "the .deb lacks $file"
done

echo "--- dpkg -x into a scratch root"
root="$scratch/root"
dpkg -x "$deb" "$root"
missing=$(ldd "$root/opt/qiongzhi/qiongzhi" | grep "not found" || true)
[ -z "$missing" ] || fail "libraries not found: $missing"
desktop="$root/usr/share/applications/qiongzhi.desktop"
grep -qx "Exec=qiongzhi" "$desktop" && grep -qx "Icon=qiongzhi" "$desktop" || fail "menu entry fields"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop"; fi

user_folder="$HOME/.local/share/qiongzhi"
echo "--- qiongzhi --help"
timeout 20 "$root/usr/bin/qiongzhi" --help >"$scratch/help.txt" 2>&1 || { cat "$scratch/help.txt" >&2; fail "--help"; }
grep -q "qiongzhi record" "$scratch/help.txt" || { cat "$scratch/help.txt" >&2; fail "--help printed no usage"; }

echo "--- the launcher runs a copy in the user's folder"
start_program "$user_folder" "$root/usr/bin/qiongzhi"
cmp -s "$root/opt/qiongzhi/qiongzhi" "$user_folder/qiongzhi" || fail "no copy of the program in $user_folder"
[ "$(readlink "/proc/$program_pid/exe")" = "$user_folder/qiongzhi" ] || fail "the running program is not the user's copy"
[ ! -e "$root/opt/qiongzhi/data" ] || fail "data/ was made beside the installed program"
stop_program

echo "--- after an upgrade the copy is renewed, the user's files stay"
echo "keep" >"$user_folder/data/mine.txt"
printf '\0' >>"$root/opt/qiongzhi/qiongzhi"   # a changed program, still a valid one
start_program "$user_folder" "$root/usr/bin/qiongzhi"
cmp -s "$root/opt/qiongzhi/qiongzhi" "$user_folder/qiongzhi" || fail "the copy was not renewed"
[ "$(cat "$user_folder/data/mine.txt")" = keep ] || fail "the user's file was touched"
stop_program
ls -a "$user_folder" | grep -q '^\.qiongzhi\.' && fail "a partial copy was left behind"

echo "--- a data folder that cannot be written gives a message"
mkdir -p "$scratch/readonly"
chmod 555 "$scratch/readonly"
if [ "$(id -u)" != 0 ]; then
  set +e
  XDG_DATA_HOME="$scratch/readonly" "$root/usr/bin/qiongzhi" >"$scratch/ro.txt" 2>&1
  rc=$?
  set -e
  [ $rc -ne 0 ] && grep -q "无法写入" "$scratch/ro.txt" || fail "unwritable folder: rc $rc, $(cat "$scratch/ro.txt")"
fi
set +e
XDG_DATA_HOME=/proc/version "$root/usr/bin/qiongzhi" >"$scratch/ro.txt" 2>&1
rc=$?
set -e
[ $rc -ne 0 ] && grep -q "无法写入" "$scratch/ro.txt" || fail "a file as the data folder: rc $rc, $(cat "$scratch/ro.txt")"

echo "--- the portable archive runs where it is unpacked"
mkdir -p "$scratch/portable 便携"
tar -xzf "$tgz" -C "$scratch/portable 便携"
portable=$(ls -d "$scratch/portable 便携"/qiongzhi-*-linux-x86_64)
[ -x "$portable/qiongzhi" ] || fail "no program in the archive"
start_program "$portable" "$portable/qiongzhi"
stop_program

echo "PASS"
