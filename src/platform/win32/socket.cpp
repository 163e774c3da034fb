#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <vector>

#include "platform/fs.h"

namespace qz::platform {
namespace {

SOCKET native(SocketHandle s) { return static_cast<SOCKET>(s); }

bool winsock_started() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

// Also for systems that do not know WSA_FLAG_NO_HANDLE_INHERIT, and for accepted sockets, which
// inherit the flag of the listener only on some.
void keep_from_children(SOCKET s) { ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0); }

// Not inheritable: a tool started meanwhile (ffmpeg) must not keep our connections open.
SOCKET new_socket() {
  SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);  // a system without the flag
  if (s != INVALID_SOCKET) keep_from_children(s);
  return s;
}

}  // namespace

std::optional<LoopbackListener> listen_on_loopback(int backlog) {
  if (!winsock_started()) return std::nullopt;
  const SOCKET s = new_socket();
  if (s == INVALID_SOCKET) return std::nullopt;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, backlog) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::closesocket(s);
    return std::nullopt;
  }
  return LoopbackListener{static_cast<SocketHandle>(s), ntohs(address.sin_port)};
}

SocketHandle accept_connection(SocketHandle listener) {
  const SOCKET s = ::accept(native(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoSocket;
  keep_from_children(s);
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return static_cast<SocketHandle>(s);
}

SocketHandle connect_to_loopback(int port) {
  if (!winsock_started()) return kNoSocket;
  const SOCKET s = new_socket();
  if (s == INVALID_SOCKET) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::closesocket(s);
    return kNoSocket;
  }
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return static_cast<SocketHandle>(s);
}

bool wait_readable(SocketHandle socket, const std::stop_token& stopping) {
  while (!stopping.stop_requested()) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(native(socket), &set);
    timeval tv{0, 100000};
    const int r = ::select(0, &set, nullptr, nullptr, &tv);
    if (r > 0) return true;
    if (r < 0) return false;
  }
  return false;
}

long receive_some(SocketHandle socket, char* data, std::size_t size) {
  const int n = ::recv(native(socket), data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

bool send_all(SocketHandle socket, const char* data, std::size_t size) {
  while (size > 0) {
    const int n = ::send(native(socket), data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)), 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool send_file(SocketHandle socket, const std::string& path, std::uint64_t length) {
  File file;
  if (!file.open(path, File::Mode::ReadWriteExisting)) return false;
  // Read and sent a block at a time, so a long file is never held whole.
  std::vector<char> block(256 * 1024);
  for (std::uint64_t sent = 0; sent < length;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), length - sent));
    if (!file.read_at(sent, block.data(), n) || !send_all(socket, block.data(), n)) return false;
    sent += n;
  }
  return true;
}

void shutdown_socket(SocketHandle socket) { ::shutdown(native(socket), SD_BOTH); }

void close_socket(SocketHandle socket) {
  if (socket != kNoSocket) ::closesocket(native(socket));
}

}  // namespace qz::platform
