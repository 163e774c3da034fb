#pragma once
// A WebSocket client for text messages, and a one-shot HTTP GET, as the browser's debugging
// endpoint needs them. The connection owns a reader thread that hands each whole message to
// `on_message`; sends may come from any thread.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/message_channel.h"

namespace qz::platform {

using WebSocketHandlers = MessageHandlers;

class WebSocket : public MessageChannel {
 public:
  struct Impl;
  explicit WebSocket(std::unique_ptr<Impl> impl);
  WebSocket(const WebSocket&) = delete;
  WebSocket& operator=(const WebSocket&) = delete;
  ~WebSocket() override;  // close()

  // Opens ws://host:port + path. Nothing (and a readable `error`) when the endpoint cannot be
  // reached or refuses the upgrade within `timeout_ms`.
  static std::unique_ptr<WebSocket> connect(const std::string& host, int port, const std::string& path,
                                            WebSocketHandlers handlers, std::string* error,
                                            int timeout_ms = 10000);

  bool send(std::string text) override;
  bool is_open() const override;
  void close() override;

 private:
  std::unique_ptr<Impl> impl_;
};

// GET http://host:port + path; the body when the answer is 200 within `timeout_ms`.
std::optional<std::string> http_get(const std::string& host, int port, const std::string& path,
                                    int timeout_ms = 5000);

}  // namespace qz::platform
