#include "platform/loopback_server.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <stop_token>
#include <thread>

#include "platform/fs.h"
#include "platform/socket.h"

namespace qz::platform {
namespace {

constexpr std::size_t kMaxHead = 64 * 1024;
// Connections served at once; the next ones wait in the listen queue until one ends.
constexpr std::size_t kMaxConnections = 32;
constexpr int kBacklog = 64;
// A failing accept (no descriptor left, say) is tried again after a pause that doubles up to a
// second, so the accept loop never spins.
constexpr std::chrono::milliseconds kFirstBackOff{10};
constexpr std::chrono::milliseconds kLongestBackOff{1000};

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 403: return "Forbidden";
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

// The value of the header `name` (lower case) in a lowered request head; nothing when absent.
std::optional<std::string> header_value(const std::string& lowered_head, const std::string& name) {
  const std::string key = "\r\n" + name + ":";
  const std::size_t at = lowered_head.find(key);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t start = at + key.size();
  const std::size_t end = std::min(lowered_head.find("\r\n", start), lowered_head.size());
  std::string value = lowered_head.substr(start, end - start);
  const auto space = [](char c) { return c == ' ' || c == '\t'; };
  while (!value.empty() && space(value.back())) value.pop_back();
  value.erase(0, std::find_if_not(value.begin(), value.end(), space) - value.begin());
  return value;
}

}  // namespace

struct LoopbackServer::Impl {
  SocketHandle listener = kNoSocket;
  int port = 0;
  std::string own_host;  // "127.0.0.1:<port>", the only Host a request may name
  Handler handler;
  std::stop_source stopping;  // stop(): every wait and read of the server ends
  std::jthread acceptor;

  // A connection's thread closes its socket and leaves the list when its request ends; the
  // thread itself is joined by the next one to end (or by stop()), so none lingers unjoined.
  struct Connection {
    SocketHandle socket = kNoSocket;
    std::jthread thread;
  };
  std::mutex mutex;  // guards connections and last_ended
  std::condition_variable_any changed;
  std::list<Connection> connections;
  std::jthread last_ended;

  void accept_loop();
  bool wait_for_room();
  void back_off(std::chrono::milliseconds& pause);
  void open_connection(SocketHandle s);
  void end_connection(std::list<Connection>::iterator c);
  void serve(SocketHandle s);
  bool answer(SocketHandle s, const std::string& method, const std::string& path, bool host_ok);
};

void LoopbackServer::Impl::accept_loop() {
  std::chrono::milliseconds pause = kFirstBackOff;
  while (wait_for_room()) {
    if (!wait_readable(listener, stopping.get_token())) {
      back_off(pause);
      continue;
    }
    const SocketHandle s = accept_connection(listener);
    if (s == kNoSocket) {
      back_off(pause);
      continue;
    }
    pause = kFirstBackOff;
    open_connection(s);
  }
}

// False once the server stops.
bool LoopbackServer::Impl::wait_for_room() {
  std::unique_lock lock(mutex);
  changed.wait(lock, stopping.get_token(), [&] { return connections.size() < kMaxConnections; });
  return !stopping.stop_requested();
}

void LoopbackServer::Impl::back_off(std::chrono::milliseconds& pause) {
  std::unique_lock lock(mutex);
  changed.wait_for(lock, stopping.get_token(), pause, [] { return false; });
  pause = std::min(pause * 2, kLongestBackOff);
}

void LoopbackServer::Impl::open_connection(SocketHandle s) {
  std::lock_guard lock(mutex);
  const auto c = connections.insert(connections.end(), Connection{s, {}});
  try {
    c->thread = std::jthread([this, c] {
      serve(c->socket);
      end_connection(c);
    });
  } catch (...) {
    close_socket(s);
    connections.erase(c);
  }
}

void LoopbackServer::Impl::end_connection(std::list<Connection>::iterator c) {
  std::jthread previous;
  {
    // Under the lock, so stop() never shuts down a socket number that was closed and reused.
    std::lock_guard lock(mutex);
    close_socket(c->socket);
    previous = std::move(last_ended);
    last_ended = std::move(c->thread);
    connections.erase(c);
  }
  changed.notify_all();
  if (previous.joinable()) previous.join();
}

void LoopbackServer::Impl::serve(SocketHandle s) {
  std::string buffer;
  char chunk[4096];
  for (;;) {
    std::size_t head_end;
    while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (buffer.size() > kMaxHead || !wait_readable(s, stopping.get_token())) return;
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
    // A page in a browser can reach us under a name of its own (DNS rebinding); only requests
    // addressed to this very server are answered.
    const bool host_ok = header_value(lowered, "host") == own_host;
    if (!answer(s, method, path, host_ok) || !host_ok) return;
    if (lowered.find("\r\nconnection: close") != std::string::npos) return;
  }
}

bool LoopbackServer::Impl::answer(SocketHandle s, const std::string& method, const std::string& path,
                                  bool host_ok) {
  const bool head_only = method == "HEAD";
  LocalReply reply;
  if (!host_ok) {
    reply = LocalReply{403, "text/plain", "forbidden", ""};
  } else if (method != "GET" && !head_only) {
    reply.status = 405;
  } else {
    reply = handler(path);
  }
  if (stopping.stop_requested()) return false;
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
                          (host_ok ? "" : "\r\nConnection: close") + "\r\n\r\n";
  if (!send_all(s, out.data(), out.size())) return false;
  if (head_only) return true;
  if (reply.file_path.empty()) return send_all(s, reply.body.data(), reply.body.size());
  return send_file(s, reply.file_path, length);
}

LoopbackServer::LoopbackServer() : impl_(std::make_unique<Impl>()) {}

LoopbackServer::~LoopbackServer() { stop(); }

bool LoopbackServer::start(Handler handler) {
  impl_->handler = std::move(handler);
  const auto listener = listen_on_loopback(kBacklog);
  if (!listener) return false;
  impl_->listener = listener->socket;
  impl_->port = listener->port;
  impl_->own_host = "127.0.0.1:" + std::to_string(listener->port);
  try {
    impl_->acceptor = std::jthread([this] { impl_->accept_loop(); });
  } catch (...) {
    close_socket(impl_->listener);
    impl_->listener = kNoSocket;
    return false;
  }
  return true;
}

int LoopbackServer::port() const { return impl_->port; }

void LoopbackServer::stop() {
  impl_->stopping.request_stop();  // wakes the acceptor's waits
  if (impl_->acceptor.joinable()) impl_->acceptor.join();
  std::jthread last;
  {
    std::unique_lock lock(impl_->mutex);
    // Wakes a thread blocked sending to a client that stopped reading.
    for (auto& c : impl_->connections) shutdown_socket(c.socket);
    impl_->changed.wait(lock, [&] { return impl_->connections.empty(); });
    last = std::move(impl_->last_ended);
  }
  // Each ended thread joins the one that ended before it: joining the last joins them all.
  if (last.joinable()) last.join();
  close_socket(impl_->listener);
  impl_->listener = kNoSocket;
}

}  // namespace qz::platform
