#!/usr/bin/env bash
# The subsystem folders are portable: OS, GUI and transport headers belong in platform/ and ui/.
set -u
src="$1/src"
forbidden='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(windows\.h|winsock2?\.h|ws2tcpip\.h|win[a-z]*\.h|shl[a-z]*\.h|shellapi\.h|objbase\.h|ole2\.h|unistd\.h|fcntl\.h|pthread\.h|spawn\.h|signal\.h|dlfcn\.h|iconv\.h|sys/[^>]*|arpa/[^>]*|netinet/[^>]*|Q[A-Za-z]*|Qt[A-Za-z]*/[^>]*|curl/[^>]*|boost/asio[^>]*|boost/beast[^>]*)>'
hits=$(grep -rnE "$forbidden" "$src"/app "$src"/capture "$src"/record "$src"/net "$src"/notices 2>/dev/null)
if [ -n "$hits" ]; then
  echo "OS or GUI headers in portable folders:"
  echo "$hits"
  exit 1
fi
echo "portable folders are clean"
