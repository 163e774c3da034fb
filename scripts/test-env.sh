# Sourced by the test scripts: a display for GUI tests and the Wine prefixes for the Windows
# programs: build/wineprefix (win32) for the 32-bit program, build/wineprefix64 (win64) for the
# 64-bit one. The test presets name the prefix, loader and Windows ffmpeg of each build.
root=${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
source "$root/scripts/windows-tests.sh"

if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:97
  if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    for _ in $(seq 50); do xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break; sleep 0.1; done
  fi
fi

# prepare_wine_prefix <prefix> <win32|win64> <loader>: made once; Wine's stock UI fonts have no
# Chinese glyphs, so they are mapped to an installed CJK font, as a Chinese Windows maps its
# message font to a Chinese UI font.
prepare_wine_prefix() {
  local prefix=$1 arch=$2 loader=$3
  if [ ! -f "$prefix/system.reg" ]; then
    WINEPREFIX=$prefix WINEARCH=$arch "$loader" wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX=$prefix wineserver -w || true
  fi
  if ! grep -q "Shell Dlg 2\"=\"WenQuanYi Micro Hei" "$prefix/user.reg" 2>/dev/null; then
    for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft YaHei" SimSun "Segoe UI"; do
      WINEPREFIX=$prefix WINEARCH=$arch "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' \
        /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1 || true
    done
    WINEPREFIX=$prefix wineserver -w || true
  fi
}

export WINEDEBUG=-all
if [ "$(windows_test_preset)" = windows-x86 ]; then
  prepare_wine_prefix "$root/build/wineprefix" win32 wine
fi
prepare_wine_prefix "$root/build/wineprefix64" win64 "$wine64_loader"
# A plain `wine` in a shell that sourced this file reaches the 32-bit program's prefix.
export WINEPREFIX="$root/build/wineprefix" WINEARCH=win32
export QZ_WINDOWS_FFMPEG="$root/build/fixtures/win32-ffmpeg/ffmpeg.exe"
