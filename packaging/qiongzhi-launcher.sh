#!/bin/sh
# Starts the installed program from a folder the user can write to.
#
# The program keeps everything beside its executable (data/, down/, logs/), and a package installs
# it under /opt, which users cannot write. So the launcher keeps a copy of the program in
# ${XDG_DATA_HOME:-~/.local/share}/qiongzhi and runs that copy: its settings, logs and recordings
# then live in that folder. The copy is renewed whenever the installed program differs from it
# (after an upgrade of the package); everything else in the folder is left as it is.
set -eu

here=$(dirname "$(readlink -f "$0")")
installed="$here/../../opt/qiongzhi/qiongzhi"
if [ ! -x "$installed" ]; then
  echo "qiongzhi: 找不到程序 $installed，请重新安装。" >&2
  exit 127
fi

if [ -n "${XDG_DATA_HOME:-}" ]; then
  folder="$XDG_DATA_HOME/qiongzhi"
elif [ -n "${HOME:-}" ]; then
  folder="$HOME/.local/share/qiongzhi"
else
  echo "qiongzhi: HOME 未设置，无法确定程序目录。" >&2
  exit 1
fi

if ! mkdir -p "$folder" 2>/dev/null || [ ! -w "$folder" ]; then
  echo "qiongzhi: 程序目录 $folder 无法写入。" >&2
  exit 1
fi

program="$folder/qiongzhi"
if ! cmp -s "$installed" "$program"; then
  # Copy under a temporary name and rename, so a running copy is never overwritten in place and
  # an interrupted copy never passes for the program.
  partial="$folder/.qiongzhi.$$"
  if ! cp "$installed" "$partial" || ! chmod 755 "$partial" || ! mv -f "$partial" "$program"; then
    rm -f "$partial"
    echo "qiongzhi: 无法把程序复制到 $folder。" >&2
    exit 1
  fi
fi
exec "$program" "$@"
