# Sourced by the test scripts. Which Windows build's tests this machine can run: the 32-bit
# product's where the kernel runs 32-bit programs, else the 64-bit build's under 64-bit Wine.
# Some kernels refuse every 32-bit program ("Exec format error"), Wine's 32-bit loader included,
# though their configuration names IA32 emulation: only starting the loader tells.

wine32_loader=/usr/lib/wine/wine
wine64_loader=/usr/lib/wine/wine64

# windows_test_preset [32-bit loader]: prints windows-x86 when that loader starts, else windows-x64.
windows_test_preset() {
  local loader=${1:-$wine32_loader}
  if "$loader" --version >/dev/null 2>&1; then
    echo windows-x86
  else
    echo windows-x64
  fi
}
