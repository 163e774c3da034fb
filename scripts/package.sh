#!/usr/bin/env bash
# Builds the packages users install into build/packages/, from the presets' build folders:
#   linux        qiongzhi_<version>_amd64.deb and qiongzhi-<version>-linux-x86_64.tar.gz
#   windows-x86  qiongzhi-<version>-win32.zip and the installer qiongzhi-<version>-setup.exe
# Usage: scripts/package.sh [preset...]   (default: linux windows-x86)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out="$root/build/packages"
mkdir -p "$out"

presets=(linux windows-x86)
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
    windows-x86)
      cmake --build "$dir" --target qz_installer -j "$(nproc)"
      (cd "$dir" && cpack -G ZIP -B "$staging")
      cp "$dir"/packages/qiongzhi-*-setup.exe "$staging/"
      (cd "$staging" && for f in qiongzhi-*-setup.exe; do sha256sum "$f" >"$f.sha256"; done)
      ;;
    *)
      rm -rf "$staging"
      echo "package.sh: no packages for preset $preset (linux, windows-x86)" >&2
      exit 2
      ;;
  esac
  find "$staging" -maxdepth 1 -type f -exec mv -f {} "$out/" \;
  rm -rf "$staging"
done
echo "packages in $out:"
ls -l "$out"
