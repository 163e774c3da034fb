#pragma once
// A WebSocket client for text messages, and a one-shot HTTP GET, as the browser's debugging
// endpoint needs them. The connection owns a reader thread that hands each whole message to
// `on_message`; sends may come from any thread.
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace qz::platform {

struct WebSocketHandlers {
  // On the reader thread, one whole text message at a time, in arrival order.
  std::function<void(std::string message)> on_message;
  // On the reader thread, once, after the last message (peer closed, error, or close()).
  std::function<void()> on_closed;
  // On the reader thread, for a message longer than `max_message`: its first bytes and its whole
  // length. The message itself is read and thrown away; the connection stays.
  std::function<void(const std::string& head, std::size_t bytes)> on_oversized;
  std::size_t max_message = 64u << 20;
};

class WebSocket {
 public:
  struct Impl;
  explicit WebSocket(std::unique_ptr<Impl> impl);
  WebSocket(const WebSocket&) = delete;
  WebSocket& operator=(const WebSocket&) = delete;
  ~WebSocket();  // close()

  // Opens ws://host:port + path. Nothing (and a readable `error`) when the endpoint cannot be
  // reached or refuses the upgrade within `timeout_ms`.
  static std::unique_ptr<WebSocket> connect(const std::string& host, int port, const std::string& path,
                                            WebSocketHandlers handlers, std::string* error,
                                            int timeout_ms = 10000);

  // Queues one text message; false once the connection has ended.
  bool send(std::string text);
  bool is_open() const;
  // Ends the connection and waits for the reader thread; afterwards no handler runs. Must not
  // be called from inside a handler (the reader thread cannot wait for itself).
  void close();

 private:
  std::unique_ptr<Impl> impl_;
};

// GET http://host:port + path; the body when the answer is 200 within `timeout_ms`.
std::optional<std::string> http_get(const std::string& host, int port, const std::string& path,
                                    int timeout_ms = 5000);

}  // namespace qz::platform
