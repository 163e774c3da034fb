#!/usr/bin/env bash
# The house's floors, checked on the sources under <root>/src:
# - the subsystem folders are portable: OS, GUI and transport headers belong in platform/ and ui/;
# - a folder includes headers only from itself and the floors below it, as the table says.
# Prints every offending line and fails when there is one.
set -u
src="$1/src"
status=0

forbidden='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(windows\.h|winsock2?\.h|ws2tcpip\.h|win[a-z]*\.h|shl[a-z]*\.h|shellapi\.h|objbase\.h|ole2\.h|unistd\.h|fcntl\.h|pthread\.h|spawn\.h|signal\.h|dlfcn\.h|iconv\.h|sys/[^>]*|arpa/[^>]*|netinet/[^>]*|Q[A-Za-z]*|Qt[A-Za-z]*/[^>]*|curl/[^>]*|boost/asio[^>]*|boost/beast[^>]*)>'
hits=$(grep -rnE "$forbidden" "$src"/app "$src"/capture "$src"/record "$src"/net "$src"/notices "$src"/provisioning "$src"/watch 2>/dev/null)
if [ -n "$hits" ]; then
  echo "OS or GUI headers in portable folders:"
  echo "$hits"
  status=1
fi

# Which folders each folder may include from. Bottom up: the OS seam, the base, the subsystems,
# the front ends, and the composition root on top.
declare -A allowed=(
  [platform]="platform"
  [app]="app platform"
  [net]="net app platform"
  [record]="record net app platform"
  [capture]="capture app platform"
  [provisioning]="provisioning record net app platform"
  [notices]="notices provisioning net app platform"
  [watch]="watch net app platform"
  [ui]="ui watch app platform"  # watch: the room list's commands and views
  [program]="program ui watch capture notices provisioning record net app platform"
)

for dir in "$src"/*/; do
  folder=$(basename "$dir")
  if [ -z "${allowed[$folder]+set}" ]; then
    echo "src/$folder has no place in the layering table (tests/layering/check_includes.sh)"
    status=1
    continue
  fi
  while IFS= read -r hit; do
    [ -n "$hit" ] || continue
    target=$(sed -E 's/^[^:]*:[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$hit")
    [ -d "$src/$target" ] || continue  # not one of the source folders
    case " ${allowed[$folder]} " in
      *" $target "*) ;;
      *)
        echo "src/$folder may not include from $target/: ${hit#"$src"/}"
        status=1
        ;;
    esac
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$dir")
done

[ $status -eq 0 ] && echo "portable folders are clean and every include keeps to its floor"
exit $status
