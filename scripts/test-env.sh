# Sourced by the test scripts: a display for GUI tests and a Wine prefix for the Windows program.
root=${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}

if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:97
  if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    for _ in $(seq 50); do xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break; sleep 0.1; done
  fi
fi

export WINEPREFIX="$root/build/wineprefix" WINEARCH=win32 WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
# Wine's stock UI fonts have no Chinese glyphs: map them to an installed CJK font, as a Chinese
# Windows maps its message font to a Chinese UI font.
if ! grep -q "Shell Dlg 2\"=\"WenQuanYi Micro Hei" "$WINEPREFIX/user.reg" 2>/dev/null; then
  for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft YaHei" SimSun "Segoe UI"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1 || true
  done
  wineserver -w || true
fi
export QZ_WIN32_FFMPEG="$root/build/fixtures/win32-ffmpeg/ffmpeg.exe"
