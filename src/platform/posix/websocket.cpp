#include "platform/websocket.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

namespace qz::platform {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

// Every operation on the stream runs on the one I/O thread (Beast streams are not thread-safe);
// send() and close() only post work to it.
struct WebSocket::Impl {
  asio::io_context io;
  websocket::stream<beast::tcp_stream> ws{io};
  beast::flat_buffer buffer;
  std::deque<std::string> outgoing;  // I/O thread only
  WebSocketHandlers handlers;
  std::atomic<bool> open{false};
  std::thread thread;
  std::mutex close_mutex;

  // Read piece by piece so a message over the cap is counted and dropped, not held.
  std::string head;         // first bytes of a message being dropped
  std::size_t dropped = 0;  // its length so far; 0 while none is being dropped

  void read_next() {
    ws.async_read_some(buffer, 64 * 1024, [this](beast::error_code ec, std::size_t) {
      if (ec) {
        finish();
        return;
      }
      if (dropped == 0 && buffer.size() > handlers.max_message) {
        head = beast::buffers_to_string(buffer.data()).substr(0, 256);
        dropped = buffer.size();
        buffer.consume(buffer.size());
      } else if (dropped > 0) {
        dropped += buffer.size();
        buffer.consume(buffer.size());
      }
      if (ws.is_message_done()) {
        if (dropped > 0) {
          if (handlers.on_oversized) handlers.on_oversized(head, dropped);
          dropped = 0;
        } else {
          hand_over();
        }
      }
      read_next();
    });
  }

  // The message leaves the buffer; one no memory can be had for is dropped, the program goes on.
  void hand_over() {
    const std::size_t bytes = buffer.size();
    try {
      std::string message = beast::buffers_to_string(buffer.data());
      buffer.consume(buffer.size());
      if (handlers.on_message) handlers.on_message(std::move(message));
    } catch (const std::bad_alloc&) {
      buffer.consume(buffer.size());
      if (handlers.on_problem)
        handlers.on_problem("browser message of " + std::to_string(bytes) + " bytes dropped (out of memory)");
    }
  }

  // The I/O thread: an allocation failure inside the stream (its buffer growing) ends the
  // connection with a line, never the program.
  void run() {
    try {
      io.run();
    } catch (const std::bad_alloc&) {
      if (handlers.on_problem) handlers.on_problem("the browser connection ran out of memory and is closed");
      buffer.clear();
      io.restart();
      asio::post(io, [this] { finish(); });
      io.run();
    }
  }

  void write_next() {
    ws.text(true);
    ws.async_write(asio::buffer(outgoing.front()), [this](beast::error_code ec, std::size_t) {
      if (ec) {
        outgoing.clear();
        beast::error_code ignored;
        beast::get_lowest_layer(ws).socket().close(ignored);
        return;
      }
      outgoing.pop_front();
      if (!outgoing.empty()) write_next();
    });
  }

  void finish() {
    // Runs for the peer's close, an error and close() alike; the handler is told once.
    open = false;
    outgoing.clear();
    beast::error_code ignored;
    beast::get_lowest_layer(ws).socket().close(ignored);
    if (handlers.on_closed) {
      auto closed = std::move(handlers.on_closed);
      handlers.on_closed = nullptr;
      closed();
    }
  }
};

WebSocket::WebSocket(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

WebSocket::~WebSocket() { close(); }

std::unique_ptr<WebSocket> WebSocket::connect(const std::string& host, int port, const std::string& path,
                                              WebSocketHandlers handlers, std::string* error,
                                              int timeout_ms) {
  auto impl = std::make_unique<Impl>();
  Impl& s = *impl;
  s.handlers = std::move(handlers);
  beast::error_code result = asio::error::timed_out;
  tcp::resolver resolver(s.io);
  const auto deadline = std::chrono::milliseconds(timeout_ms);
  beast::get_lowest_layer(s.ws).expires_after(deadline);
  resolver.async_resolve(host, std::to_string(port), [&](beast::error_code ec, tcp::resolver::results_type found) {
    if (ec) {
      result = ec;
      return;
    }
    beast::get_lowest_layer(s.ws).async_connect(found, [&](beast::error_code ec2, const tcp::endpoint&) {
      if (ec2) {
        result = ec2;
        return;
      }
      beast::get_lowest_layer(s.ws).expires_never();
      s.ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::client));
      s.ws.read_message_max(0);  // no limit of its own: read_next() drops what is over ours
      s.ws.async_handshake(host + ":" + std::to_string(port), path, [&](beast::error_code ec3) {
        result = ec3;
      });
    });
  });
  s.io.run_for(deadline);
  if (result) {
    if (error) *error = "cannot open ws://" + host + ":" + std::to_string(port) + path + ": " + result.message();
    return nullptr;
  }
  s.io.restart();
  s.open = true;
  s.read_next();
  s.thread = std::thread([&s] { s.run(); });
  return std::make_unique<WebSocket>(std::move(impl));
}

bool WebSocket::send(std::string text) {
  if (!impl_ || !impl_->open) return false;
  Impl* s = impl_.get();
  asio::post(s->io, [s, text = std::move(text)]() mutable {
    if (!s->open) return;
    s->outgoing.push_back(std::move(text));
    if (s->outgoing.size() == 1) s->write_next();
  });
  return true;
}

bool WebSocket::is_open() const { return impl_ && impl_->open; }

void WebSocket::close() {
  if (!impl_) return;
  std::lock_guard lock(impl_->close_mutex);
  Impl* s = impl_.get();
  if (s->thread.joinable()) {
    asio::post(s->io, [s] { s->finish(); });
    s->thread.join();
  }
  s->open = false;
}

std::optional<std::string> http_get(const std::string& host, int port, const std::string& path,
                                    int timeout_ms) {
  asio::io_context io;
  beast::tcp_stream stream(io);
  tcp::resolver resolver(io);
  beast::flat_buffer buffer;
  http::request<http::empty_body> request{http::verb::get, path, 11};
  request.set(http::field::host, host + ":" + std::to_string(port));
  http::response<http::string_body> response;
  bool done = false;
  stream.expires_after(std::chrono::milliseconds(timeout_ms));
  resolver.async_resolve(host, std::to_string(port), [&](beast::error_code ec, tcp::resolver::results_type found) {
    if (ec) return;
    stream.async_connect(found, [&](beast::error_code ec2, const tcp::endpoint&) {
      if (ec2) return;
      http::async_write(stream, request, [&](beast::error_code ec3, std::size_t) {
        if (ec3) return;
        http::async_read(stream, buffer, response, [&](beast::error_code ec4, std::size_t) {
          done = !ec4;
        });
      });
    });
  });
  io.run_for(std::chrono::milliseconds(timeout_ms));
  if (!done || response.result() != http::status::ok) return std::nullopt;
  return response.body();
}

}  // namespace qz::platform
