#!/usr/bin/env bash
# Which Windows build's tests the test command runs, for each kind of 32-bit Wine loader a machine
# may have. Usage: windows_test_preset_test.sh <scripts/windows-tests.sh>
set -uo pipefail
source "$1"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qz-windows-preset.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# A loader that starts, as on a machine that runs 32-bit programs.
printf '#!/bin/sh\necho wine-8.0\n' >"$scratch/starts"
# A program the kernel refuses to start ("Exec format error"), as every 32-bit program is on a
# kernel without 32-bit support: an ELF header no loader of this machine can take.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\377\377' >"$scratch/refused"
# A loader that starts and then fails (a broken Wine install).
printf '#!/bin/sh\necho "wine: could not load kernel32.dll" >&2\nexit 1\n' >"$scratch/fails"
chmod +x "$scratch/starts" "$scratch/refused" "$scratch/fails"

failures=0
while read -r loader expected; do
  got=$(windows_test_preset "$scratch/$loader")
  if [ "$got" = "$expected" ]; then
    echo "ok   $loader -> $got"
  else
    echo "FAIL $loader -> $got, expected $expected"
    failures=$((failures + 1))
  fi
done <<'CASES'
starts windows-x86
refused windows-x64
fails windows-x64
missing windows-x64
CASES
"$scratch/refused" 2>"$scratch/refused.txt"
grep -q "Exec format error" "$scratch/refused.txt" \
  || { echo "FAIL the refused stand-in is not refused by the kernel: $(cat "$scratch/refused.txt")"; failures=$((failures + 1)); }
exit $((failures > 0))
