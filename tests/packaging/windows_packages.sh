#!/usr/bin/env bash
# The Windows packages made from a cross build folder: the portable zip holds qiongzhi.exe alone;
# the NSIS installer, under Wine, installs silently (/S) into a scratch folder (/D=), registers its
# uninstaller under the user's Uninstall key and a Start-menu entry, the installed qiongzhi.exe
# starts and opens its window, and the silent uninstaller takes it all away again while the
# user's data/ folder stays. The installed program is the one of the system's width: the 32-bit
# build's installer, given the 64-bit build folder, carries both and installs the 32-bit program
# in a 32-bit prefix; the 64-bit build's installer installs its 64-bit program in a 64-bit prefix.
# Usage: windows_packages.sh <Windows build folder> <its objdump> [<64-bit build folder>]
# QZ_WINE names the Wine loader of the build (the test presets set it).
# Exits 77 (skipped) when the program or a needed tool is missing.
set -euo pipefail
build=$(realpath "$1")
objdump=${2:-}
x64_build=${3:-}
wine=${QZ_WINE:-wine}
exe="$build/src/qiongzhi.exe"
[ -f "$exe" ] || { echo "SKIP: no $exe"; exit 77; }
for tool in makensis "$wine" xdotool file; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done
[ -n "${DISPLAY:-}" ] || { echo "SKIP: no display"; exit 77; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qz-windows-packages.XXXXXX")
program_pid=
cleanup() {
  if [ -n "$program_pid" ]; then kill -KILL "$program_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# No menu entries for the real desktop from the Start-menu shortcut, and no real server reached.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
export QIONGZHI_QUOTE_URL=http://127.0.0.1:9/ QIONGZHI_BROWSER_DOWNLOAD_HOST=127.0.0.1:9
export QIONGZHI_TOOL_HOST=127.0.0.1:9 QIONGZHI_UPDATE_PRIMARY=http://127.0.0.1:9/
export QIONGZHI_UPDATE_MIRROR1=http://127.0.0.1:9/ QIONGZHI_UPDATE_MIRROR2=http://127.0.0.1:9/
# A Windows program that exists (only looked at, never started here), so the start-up brings no
# browser-missing box that opens the download page; the prefix has no Chrome, and a browser path
# must name a runnable Windows program.
export QIONGZHI_BROWSER_PATH='C:\windows\system32\notepad.exe'

# Wine writes to files here, never into a pipe: a Wine service that one of its programs starts
# would inherit the pipe and hold it open (and CTest or a $(...) waiting on it) for good.
# wine_path -w|-u <path>: the path in Windows or Unix form.
wine_path() { "$wine" winepath.exe "$@" </dev/null >"$scratch/path.txt" 2>/dev/null; cat "$scratch/path.txt"; }
run_logged() {
  local log=$1; shift
  "$@" </dev/null >"$log" 2>&1 || { cat "$log" >&2; return 1; }
}

key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qiongzhi'
title=琼枝直播下载

echo "--- the program carries its icon (group icon 1, which Explorer and the shortcuts show)"
if [ -n "$objdump" ] && command -v "$objdump" >/dev/null; then
  "$objdump" -p "$exe" | sed -n '/Resource Directory section/,$p' \
    | grep -A2 "^[0-9a-f]*   Entry: ID: 0x00000e" | grep -q "Entry: ID: 0x000001," || fail "no icon resource 1"
fi

echo "--- the portable zip"
(cd "$build" && cpack -G ZIP -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log" >&2; fail "cpack"; }
# pe_width <file>: 64 for a 64-bit Windows program, 32 for a 32-bit one.
pe_width() { case "$(file -b "$1")" in PE32+*) echo 64 ;; PE32*) echo 32 ;; *) echo unknown ;; esac; }
width=$(pe_width "$exe")
zip=$(ls "$scratch"/out/qiongzhi-*-win$width.zip)
top=$(basename "$zip" .zip)
expected="$top/qiongzhi.exe"
[ -f "$build/src/qiongzhi-cli.exe" ] && expected+=$'\n'"$top/qiongzhi-cli.exe"
listing=$(cmake -E tar tf "$zip" | grep -v '/$' | sort)
[ "$listing" = "$(sort <<<"$expected")" ] || fail "the zip holds: $listing"

echo "--- the installer"
carries=()
if [ "$width" = 32 ] && [ -n "$x64_build" ] && [ -f "$x64_build/packaging/make-installer.sh" ] \
    && [ -f "$x64_build/src/qiongzhi.exe" ]; then
  carries=("$x64_build")
  echo "carries the 64-bit programs of $x64_build"
fi
bash "$build/packaging/make-installer.sh" "$scratch/qiongzhi-setup.exe" "${carries[@]}" >/dev/null

echo "--- silent install into a scratch folder"
target="$scratch/安装目录"
run_logged "$scratch/install.log" "$wine" "$scratch/qiongzhi-setup.exe" /S "/D=$(wine_path -w "$target")" || fail "the installer"
[ -f "$target/qiongzhi.exe" ] || fail "no qiongzhi.exe in $target"
[ -f "$target/uninstall.exe" ] || fail "no uninstaller in $target"
installed_width=$(pe_width "$target/qiongzhi.exe")
[ "$installed_width" = "$width" ] || fail "the installer put a $installed_width-bit program on this $width-bit system"
"$wine" reg query "$key" /v UninstallString >"$scratch/reg.txt" 2>&1 || fail "no Uninstall key"
grep -q "uninstall.exe" "$scratch/reg.txt" || fail "Uninstall key: $(cat "$scratch/reg.txt")"
"$wine" cmd /c echo %APPDATA% </dev/null >"$scratch/appdata.txt" 2>/dev/null
appdata=$(wine_path -u "$(tr -d '\r' <"$scratch/appdata.txt")")
link="$appdata/Microsoft/Windows/Start Menu/Programs/$title.lnk"
[ -f "$link" ] || fail "no Start-menu entry at $link"
if [ -f "$build/src/qiongzhi-cli.exe" ]; then
  "$wine" "$target/qiongzhi-cli.exe" --help >"$scratch/help.txt" 2>&1 || { cat "$scratch/help.txt" >&2; fail "qiongzhi-cli.exe --help"; }
  grep -q "record" "$scratch/help.txt" || fail "qiongzhi-cli.exe --help printed no usage"
fi

echo "--- the installed program starts"
(cd "$target" && exec "$wine" "$target/qiongzhi.exe") >"$scratch/program.log" 2>&1 &
program_pid=$!
window=
for _ in $(seq 60); do
  window=$(xdotool search --all --pid "$program_pid" --name "$title" 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  kill -0 "$program_pid" 2>/dev/null || { cat "$scratch/program.log" >&2; ps -ef | grep -i qiongzhi >&2; fail "qiongzhi.exe ended at start"; }
  sleep 0.5
done
[ -n "$window" ] || fail "no window of qiongzhi.exe"
echo "window $window: $(xdotool getwindowname "$window")"
sleep 3
kill -0 "$program_pid" 2>/dev/null || fail "qiongzhi.exe did not keep running"
[ -d "$target/data" ] || fail "qiongzhi.exe made no data folder beside itself"
kill -TERM "$program_pid" 2>/dev/null || true
for _ in $(seq 50); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
kill -KILL "$program_pid" 2>/dev/null || true
wait "$program_pid" 2>/dev/null || true
program_pid=

echo "--- silent uninstall"
run_logged "$scratch/uninstall.log" "$wine" "$target/uninstall.exe" /S || fail "the uninstaller"
# The uninstaller runs from a copy of itself, so it can remove its own file: wait for it.
for _ in $(seq 60); do
  [ ! -e "$target/qiongzhi.exe" ] && [ ! -e "$target/uninstall.exe" ] && break
  sleep 0.5
done
[ ! -e "$target/qiongzhi.exe" ] || fail "qiongzhi.exe is still there"
[ ! -e "$target/uninstall.exe" ] || { ls -la "$target" >&2; ps -ef | grep -i -e '\.exe' -e wine >&2; fail "uninstall.exe is still there"; }
[ ! -e "$target/qiongzhi-cli.exe" ] || fail "qiongzhi-cli.exe is still there"
for _ in $(seq 20); do "$wine" reg query "$key" >/dev/null 2>&1 || break; sleep 0.5; done
! "$wine" reg query "$key" >/dev/null 2>&1 || fail "the Uninstall key is still there"
[ ! -e "$link" ] || fail "the Start-menu entry is still there"
[ -d "$target/data" ] || fail "the user's data folder was removed"

echo "PASS"
