#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace qz::platform {
namespace {

// sendfile has no MSG_NOSIGNAL: a peer gone away would raise SIGPIPE, which ends the process. The
// signal is held back on this thread for the call, and one it raised is taken off unseen.
class SigpipeHeld {
 public:
  SigpipeHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    already_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~SigpipeHeld() {
    if (!already_pending_) {
      const timespec none{};
      while (sigtimedwait(&pipe_, nullptr, &none) > 0) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeHeld(const SigpipeHeld&) = delete;
  SigpipeHeld& operator=(const SigpipeHeld&) = delete;

 private:
  sigset_t pipe_{}, old_{};
  bool already_pending_ = false;
};

}  // namespace

std::optional<LoopbackListener> listen_on_loopback(int backlog) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) return std::nullopt;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, backlog) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(s);
    return std::nullopt;
  }
  return LoopbackListener{s, ntohs(address.sin_port)};
}

SocketHandle accept_connection(SocketHandle listener) {
  const int s = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (s < 0) return kNoSocket;
  int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return s;
}

SocketHandle connect_to_loopback(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  int r;
  do {
    r = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    ::close(s);
    return kNoSocket;
  }
  int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return s;
}

bool wait_readable(SocketHandle socket, const std::stop_token& stopping) {
  while (!stopping.stop_requested()) {
    pollfd p{static_cast<int>(socket), POLLIN, 0};
    const int r = ::poll(&p, 1, 100);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
  }
  return false;
}

long receive_some(SocketHandle socket, char* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(static_cast<int>(socket), data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

bool send_all(SocketHandle socket, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool send_file(SocketHandle socket, const std::string& path, std::uint64_t length) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  off_t offset = 0;
  bool ok = true;
  const SigpipeHeld held;
  while (ok && static_cast<std::uint64_t>(offset) < length) {
    const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(length - static_cast<std::uint64_t>(offset), 1u << 30));
    const ssize_t n = ::sendfile(static_cast<int>(socket), fd, &offset, step);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
  }
  ::close(fd);
  return ok;
}

void shutdown_socket(SocketHandle socket) { ::shutdown(static_cast<int>(socket), SHUT_RDWR); }

void close_socket(SocketHandle socket) {
  if (socket != kNoSocket) ::close(static_cast<int>(socket));
}

}  // namespace qz::platform
