#!/usr/bin/env bash
# Builds the packages users install into build/packages/, from the presets' build folders:
#   linux        qiongzhi_<version>_amd64.deb and qiongzhi-<version>-linux-x86_64.tar.gz
#   windows-x64  qiongzhi-<version>-win64.zip
#   windows-x86  qiongzhi-<version>-win32.zip and the installer qiongzhi-<version>-setup.exe, which
#                carries the 64-bit program too (built here) and installs it on 64-bit Windows
# Usage: scripts/package.sh [preset...]   (default: linux windows-x64 windows-x86)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out="$root/build/packages"
mkdir -p "$out"

presets=(linux windows-x64 windows-x86)
[ $# -gt 0 ] && presets=("$@")
for preset in "${presets[@]}"; do
  dir="$root/build/$preset"
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  staging=$(mktemp -d "$root/build/.packages.XXXXXX")
  case "$preset" in
    linux)
      cmake --build "$dir" --target qiongzhi -j "$(nproc)"
      (cd "$dir" && cpack -B "$staging")
      ;;
    windows-x64)
      cmake --build "$dir" --target qiongzhi qiongzhi-cli -j "$(nproc)"
      (cd "$dir" && cpack -G ZIP -B "$staging")
      ;;
    windows-x86)
      x64="$root/build/windows-x64"
      cmake --preset windows-x64 >/dev/null
      cmake --build "$x64" --target qiongzhi qiongzhi-cli -j "$(nproc)"
      cmake --build "$dir" --target qiongzhi qiongzhi-cli -j "$(nproc)"
      (cd "$dir" && cpack -G ZIP -B "$staging")
      version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
      bash "$dir/packaging/make-installer.sh" "$staging/qiongzhi-$version-setup.exe" "$x64" >/dev/null
      (cd "$staging" && for f in qiongzhi-*-setup.exe; do sha256sum "$f" >"$f.sha256"; done)
      ;;
    *)
      rm -rf "$staging"
      echo "package.sh: no packages for preset $preset (linux, windows-x64, windows-x86)" >&2
      exit 2
      ;;
  esac
  find "$staging" -maxdepth 1 -type f -exec mv -f {} "$out/" \;
  rm -rf "$staging"
done
echo "packages in $out:"
ls -l "$out"
