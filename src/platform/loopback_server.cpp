#include "platform/loopback_server.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/socket.h"

namespace qz::platform {
namespace {

constexpr std::size_t kMaxHead = 64 * 1024;

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
  SocketHandle listener = kNoSocket;
  int port = 0;
  Handler handler;
  std::atomic<bool> stopping{false};
  std::thread acceptor;
  std::mutex mutex;  // guards connections
  struct Connection {
    SocketHandle socket;
    std::thread thread;
  };
  std::vector<std::unique_ptr<Connection>> connections;

  void accept_loop();
  void serve(SocketHandle s);
  bool answer(SocketHandle s, const std::string& method, const std::string& path);
};

void LoopbackServer::Impl::accept_loop() {
  while (!stopping) {
    if (!wait_readable(listener, stopping)) continue;
    const SocketHandle s = accept_connection(listener);
    if (s == kNoSocket) continue;
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

void LoopbackServer::Impl::serve(SocketHandle s) {
  std::string buffer;
  char chunk[4096];
  for (;;) {
    std::size_t head_end;
    while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (buffer.size() > kMaxHead || !wait_readable(s, stopping)) return;
      const long n = receive_some(s, chunk, sizeof chunk);
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

bool LoopbackServer::Impl::answer(SocketHandle s, const std::string& method, const std::string& path) {
  const bool head_only = method == "HEAD";
  LocalReply reply;
  if (method != "GET" && !head_only) {
    reply.status = 405;
  } else {
    reply = handler(path);
  }
  if (stopping) return false;
  std::uint64_t length = reply.body.size();
  if (!reply.file_path.empty()) {
    const auto size = file_size(reply.file_path);
    if (!size) {
      reply = LocalReply{404, "text/plain", "missing", ""};
      length = reply.body.size();
    } else {
      length = *size;
    }
  }
  const std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) +
                          "\r\nContent-Type: " + reply.content_type + "\r\nContent-Length: " + std::to_string(length) +
                          "\r\n\r\n";
  if (!send_all(s, out.data(), out.size())) return false;
  if (head_only) return true;
  if (reply.file_path.empty()) return send_all(s, reply.body.data(), reply.body.size());
  return send_file(s, reply.file_path, length);
}

LoopbackServer::LoopbackServer() : impl_(std::make_unique<Impl>()) {}

LoopbackServer::~LoopbackServer() { stop(); }

bool LoopbackServer::start(Handler handler) {
  impl_->handler = std::move(handler);
  const auto listener = listen_on_loopback(16);
  if (!listener) return false;
  impl_->listener = listener->socket;
  impl_->port = listener->port;
  try {
    impl_->acceptor = std::thread([this] { impl_->accept_loop(); });
  } catch (...) {
    close_socket(impl_->listener);
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
    shutdown_socket(c->socket);
    if (c->thread.joinable()) c->thread.join();
    close_socket(c->socket);
  }
  close_socket(impl_->listener);
  impl_->listener = kNoSocket;
}

}  // namespace qz::platform
