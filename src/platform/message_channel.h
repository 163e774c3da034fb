#pragma once
// A two-way stream of whole text messages with a reader thread of its own: the browser's
// debugging connection, whether a WebSocket to its port or the pipe it was started with.
#include <cstddef>
#include <functional>
#include <string>

namespace qz::platform {

struct MessageHandlers {
  // On the reader thread, one whole text message at a time, in arrival order.
  std::function<void(std::string message)> on_message;
  // On the reader thread, once, after the last message (peer closed, error, or close()).
  std::function<void()> on_closed;
  // On the reader thread, for a message longer than `max_message`: its first bytes and its whole
  // length. The message itself is read and thrown away; the connection stays.
  std::function<void(const std::string& head, std::size_t bytes)> on_oversized;
  // On the reader thread, for a message dropped because no memory could be had for it (a line
  // for the error log); the connection stays.
  std::function<void(const std::string& line)> on_problem;
  std::size_t max_message = 64u << 20;
};

class MessageChannel {
 public:
  virtual ~MessageChannel() = default;
  // Queues or writes one text message; false once the connection has ended.
  virtual bool send(std::string text) = 0;
  virtual bool is_open() const = 0;
  // Ends the connection and waits for the reader thread; afterwards no handler runs. Must not
  // be called from inside a handler (the reader thread cannot wait for itself).
  virtual void close() = 0;
};

// Cuts a byte stream into messages that each end with a zero byte (the browser pipe's framing)
// and hands them to `handlers`: a message over the cap, or one no memory could be had for, is
// counted and skipped up to its end, never held.
class ZeroFramedMessages {
 public:
  explicit ZeroFramedMessages(const MessageHandlers& handlers) : handlers_(handlers) {}
  void feed(const char* data, std::size_t size);

 private:
  void take(const char* data, std::size_t size);
  void skip_what_is_held();
  void finish_message();

  const MessageHandlers& handlers_;
  std::string message_;
  bool skipping_ = false;       // the message under way is being skipped
  std::string head_;            // its first bytes
  std::size_t skipped_ = 0;     // its length so far
  bool out_of_memory_ = false;  // why it is skipped
};

}  // namespace qz::platform
