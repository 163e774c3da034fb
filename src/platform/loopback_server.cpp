#include "platform/loopback_server.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/fs.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace qz::platform {
namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
void close_socket(Socket s) { closesocket(s); }
int send_some(Socket s, const char* data, int n) { return ::send(s, data, n, 0); }
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void close_socket(Socket s) { ::close(s); }
int send_some(Socket s, const char* data, int n) { return static_cast<int>(::send(s, data, static_cast<size_t>(n), MSG_NOSIGNAL)); }
#endif

constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kMaxHead = 64 * 1024;

// Waits until the socket is readable; false when `stopping` is set meanwhile or on an error.
bool wait_readable(Socket s, const std::atomic<bool>& stopping) {
  while (!stopping) {
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{0, 100000};
    const int r = select(0, &set, nullptr, nullptr, &tv);
#else
    pollfd p{s, POLLIN, 0};
    const int r = poll(&p, 1, 100);
#endif
    if (r > 0) return true;
    if (r < 0) return false;
  }
  return false;
}

bool send_all(Socket s, const char* data, std::size_t size) {
  while (size > 0) {
    const int n = send_some(s, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    default: return "Error";
  }
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

struct LoopbackServer::Impl {
  Socket listener = kNoSocket;
  int port = 0;
  Handler handler;
  std::atomic<bool> stopping{false};
  std::thread acceptor;
  std::mutex mutex;  // guards connections
  struct Connection {
    Socket socket;
    std::thread thread;
  };
  std::vector<std::unique_ptr<Connection>> connections;

  void accept_loop();
  void serve(Socket s);
  bool answer(Socket s, const std::string& method, const std::string& path);
};

void LoopbackServer::Impl::accept_loop() {
  while (!stopping) {
    if (!wait_readable(listener, stopping)) continue;
    const Socket s = ::accept(listener, nullptr, nullptr);
    if (s == kNoSocket) continue;
    int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    std::lock_guard lock(mutex);
    auto c = std::make_unique<Connection>();
    c->socket = s;
    try {
      c->thread = std::thread([this, s] { serve(s); });
    } catch (...) {
      close_socket(s);
      continue;
    }
    connections.push_back(std::move(c));
  }
}

void LoopbackServer::Impl::serve(Socket s) {
  std::string buffer;
  char chunk[4096];
  for (;;) {
    std::size_t head_end;
    while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (buffer.size() > kMaxHead || !wait_readable(s, stopping)) return;
      const int n = static_cast<int>(::recv(s, chunk, sizeof chunk, 0));
      if (n <= 0) return;
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
    const std::string head = buffer.substr(0, head_end);
    buffer.erase(0, head_end + 4);
    const std::size_t sp1 = head.find(' ');
    const std::size_t sp2 = sp1 == std::string::npos ? sp1 : head.find(' ', sp1 + 1);
    if (sp2 == std::string::npos) return;
    const std::string method = head.substr(0, sp1);
    std::string path = head.substr(sp1 + 1, sp2 - sp1 - 1);
    path = path.substr(0, path.find('?'));
    // Our client never sends a body; a request that announces one is not ours to answer.
    const std::string lowered = lower(head);
    if (lowered.find("\r\ncontent-length:") != std::string::npos && lowered.find("\r\ncontent-length: 0") == std::string::npos)
      return;
    if (!answer(s, method, path)) return;
    if (lowered.find("\r\nconnection: close") != std::string::npos) return;
  }
}

bool LoopbackServer::Impl::answer(Socket s, const std::string& method, const std::string& path) {
  const bool head_only = method == "HEAD";
  LocalReply reply;
  if (method != "GET" && !head_only) {
    reply.status = 405;
  } else {
    reply = handler(path);
  }
  if (stopping) return false;
  File file;
  std::uint64_t length = reply.body.size();
  if (!reply.file_path.empty()) {
    const auto size = file.open(reply.file_path, File::Mode::ReadWriteExisting) ? file.size() : std::nullopt;
    if (!size) {
      reply = LocalReply{404, "text/plain", "missing", ""};
      length = reply.body.size();
    } else {
      length = *size;
    }
  }
  std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) +
                    "\r\nContent-Type: " + reply.content_type + "\r\nContent-Length: " + std::to_string(length) +
                    "\r\n\r\n";
  if (!send_all(s, out.data(), out.size())) return false;
  if (head_only) return true;
  if (reply.file_path.empty() || !file.is_open()) return send_all(s, reply.body.data(), reply.body.size());
  std::vector<char> block(kChunk);
  for (std::uint64_t sent = 0; sent < length;) {
    if (stopping) return false;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, length - sent));
    if (!file.read_at(sent, block.data(), n) || !send_all(s, block.data(), n)) return false;
    sent += n;
  }
  return true;
}

LoopbackServer::LoopbackServer() : impl_(std::make_unique<Impl>()) {}

LoopbackServer::~LoopbackServer() { stop(); }

bool LoopbackServer::start(Handler handler) {
#ifdef _WIN32
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) return false;
#endif
  impl_->handler = std::move(handler);
  const Socket s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == kNoSocket) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 16) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close_socket(s);
    return false;
  }
  impl_->listener = s;
  impl_->port = ntohs(address.sin_port);
  try {
    impl_->acceptor = std::thread([this] { impl_->accept_loop(); });
  } catch (...) {
    close_socket(s);
    impl_->listener = kNoSocket;
    return false;
  }
  return true;
}

int LoopbackServer::port() const { return impl_->port; }

void LoopbackServer::stop() {
  impl_->stopping = true;
  if (impl_->acceptor.joinable()) impl_->acceptor.join();
  std::vector<std::unique_ptr<Impl::Connection>> connections;
  {
    std::lock_guard lock(impl_->mutex);
    connections.swap(impl_->connections);
  }
  for (auto& c : connections) {
    // Wakes a thread blocked sending to a client that stopped reading.
#ifdef _WIN32
    ::shutdown(c->socket, SD_BOTH);
#else
    ::shutdown(c->socket, SHUT_RDWR);
#endif
    if (c->thread.joinable()) c->thread.join();
    close_socket(c->socket);
  }
  if (impl_->listener != kNoSocket) close_socket(impl_->listener);
  impl_->listener = kNoSocket;
}

}  // namespace qz::platform
