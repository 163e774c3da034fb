#pragma once
// A client of the browser's debugging protocol over one connection (a WebSocket to its port, or
// the pipe it was started with): commands with ids and their replies, events, and flattened
// target sessions (a command or event carries the session id of the page it concerns).
//
// Threads: the connection's reader thread only sorts messages. Replies wake the caller waiting in
// call(); events and posted tasks run in order on the client's own event thread, so an event
// handler may itself call() without blocking the reader.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <stop_token>
#include <string_view>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/message_channel.h"

namespace qz::capture {

// Fields of a browser message read without trusting their type: a member of another type than
// expected reads as missing (nlohmann's value() would throw, and an exception must never leave
// the event thread).
std::string text_field(const nlohmann::json& object, const char* key);
bool bool_field(const nlohmann::json& object, const char* key);
const nlohmann::json& object_field(const nlohmann::json& object, const char* key);  // {} when missing
const nlohmann::json& array_field(const nlohmann::json& object, const char* key);   // [] when missing

// Browser messages above this are dropped with an error-log line: a 32-bit program must not try
// to hold a page's giant body twice over.
inline constexpr std::size_t kMaxDevToolsMessage = 64u << 20;

// Events waiting for the event thread, at most; past either bound an event is dropped with an
// error-log line (the reader never waits, so replies keep coming). An event alone in the queue is
// always taken.
inline constexpr std::size_t kMaxQueuedEvents = 10000;
inline constexpr std::size_t kMaxQueuedEventBytes = 32u << 20;

struct DevToolsEvent {
  std::string method;
  std::string session_id;  // empty for the browser's own events
  nlohmann::json params;
  std::string raw;  // the message exactly as it came
};

struct DevToolsReply {
  bool ok = false;
  nlohmann::json result;  // the command's result object when ok
  std::string error;      // the browser's error message, or why no reply came
};

class DevToolsClient {
 public:
  using EventHandler = std::function<void(DevToolsEvent&)>;
  // Told about what went wrong without ending the connection: a message over the size cap, a
  // handler that failed on an unexpected message. For the error log.
  using ProblemHandler = std::function<void(const std::string& line)>;

  DevToolsClient(const DevToolsClient&) = delete;
  DevToolsClient& operator=(const DevToolsClient&) = delete;
  // close(). Never run on the event thread itself (it joins that thread): an owner lets the
  // last reference go on a thread of its own.
  ~DevToolsClient();

  struct Handlers {
    EventHandler on_event;
    ProblemHandler on_problem;
    // On the socket's reader thread, once, when the connection ends from the browser's side or
    // by close(); the browser may have exited.
    std::function<void()> on_closed;
  };

  // Connects to the browser endpoint ws://host:port + path.
  static std::unique_ptr<DevToolsClient> connect(const std::string& host, int port, const std::string& path,
                                                 Handlers handlers, std::string* error,
                                                 std::size_t max_message = kMaxDevToolsMessage);
  // Talks over the connection `open_channel` makes with the handlers it is given (nothing, and
  // a readable error, when it cannot).
  using ChannelOpener = std::function<std::unique_ptr<platform::MessageChannel>(platform::MessageHandlers handlers,
                                                                                std::string* error)>;
  static std::unique_ptr<DevToolsClient> open(const ChannelOpener& open_channel, Handlers handlers, std::string* error,
                                              std::size_t max_message = kMaxDevToolsMessage);

  // Sends a command and waits for its reply; fails at once when the connection ends.
  DevToolsReply call(std::string_view method, nlohmann::json params = nlohmann::json::object(),
                     std::string_view session_id = {},
                     std::chrono::milliseconds timeout = std::chrono::seconds(30));

  // Runs `task` on the event thread after the events already queued. With `wait`, returns when
  // it has run (false when events have been stopped or the time ran out first).
  bool post(std::function<void()> task, bool wait = false,
            std::chrono::milliseconds timeout = std::chrono::seconds(30));

  bool connected() const;
  bool on_event_thread() const;

  // After this returns no event handler or posted task runs any more, and none is running
  // (unless called from the event thread itself, whose current task finishes; the thread is
  // then joined by the next close() from another thread, or by the destructor).
  void stop_events();
  // stop_events(), then ends the connection; waiting calls fail.
  void close();

 private:
  DevToolsClient() = default;
  void on_message(std::string message);
  void sort_message(std::string& message);
  void queue_event(std::shared_ptr<DevToolsEvent> event);
  void on_oversized(const std::string& head, std::size_t bytes);
  void run_task(const std::function<void()>& task);
  void on_closed();
  void event_loop(std::stop_token stopping);
  void join_event_thread();

  std::unique_ptr<platform::MessageChannel> socket_;

  mutable std::mutex calls_mutex_;
  std::condition_variable calls_cv_;
  struct Pending {
    bool done = false;
    DevToolsReply reply;
  };
  std::map<long long, std::shared_ptr<Pending>> pending_;
  long long next_id_ = 0;
  bool closed_ = false;

  mutable std::mutex events_mutex_;
  std::condition_variable_any events_cv_;
  std::deque<std::function<void()>> events_;
  std::size_t queued_events_ = 0, queued_event_bytes_ = 0;  // browser events among events_
  std::size_t dropped_events_ = 0;                          // since the queue last had room
  EventHandler on_event_;
  ProblemHandler on_problem_;
  std::function<void()> on_closed_;
  std::mutex join_mutex_;      // one join of the event thread at a time
  std::jthread event_thread_;  // its stop token is the end of event delivery
};

}  // namespace qz::capture
