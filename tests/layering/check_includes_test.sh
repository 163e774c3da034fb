#!/usr/bin/env bash
# The layering check itself: a small source tree that keeps to its floors passes, and each kind of
# wrong include makes it fail, naming the line.
set -u
check="$(dirname "$0")/check_includes.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_tree() {
  rm -rf "$work/src"
  for folder in platform app net record capture notices ui program; do mkdir -p "$work/src/$folder"; done
  echo '#include "platform/fs.h"' >"$work/src/app/settings.cpp"
  echo '#include "app/context.h"' >"$work/src/record/jobs.cpp"
  echo '#include "record/install.h"' >"$work/src/program/wiring.cpp"
  echo '#include <windows.h>' >"$work/src/platform/fs.cpp"
}

make_tree
if ! out=$(bash "$check" "$work"); then
  echo "a clean tree failed the check:"; echo "$out"; exit 1
fi

# file | line added | what the message must name
cases=(
  "app/application.cpp|#include \"record/install.h\"|src/app may not include from record/"
  "capture/install.cpp|#include \"notices/install.h\"|src/capture may not include from notices/"
  "capture/browser_control.cpp|#include \"record/display_writer.h\"|src/capture may not include from record/"
  "ui/cli/cli.cpp|  #  include \"program/wiring.h\"|src/ui may not include from program/"
  "net/http.cpp|#include <unistd.h>|OS or GUI headers"
  "extra/thing.cpp|#include \"app/context.h\"|src/extra has no place"
)
failed=0
for c in "${cases[@]}"; do
  IFS='|' read -r file line expected <<<"$c"
  make_tree
  mkdir -p "$(dirname "$work/src/$file")"
  echo "$line" >>"$work/src/$file"
  if out=$(bash "$check" "$work"); then
    echo "not caught: $line in $file"; failed=1
  elif ! grep -qF "$expected" <<<"$out"; then
    echo "caught without naming it ($expected): $out"; failed=1
  fi
done
[ $failed -eq 0 ] && echo "every wrong include was caught"
exit $failed
