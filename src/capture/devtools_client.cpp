#include "capture/devtools_client.h"

#include <charconv>
#include <new>

#include "platform/websocket.h"

#include "capture/json_document.h"

namespace qz::capture {

using nlohmann::json;

std::string text_field(const json& object, const char* key) {
  if (!object.is_object()) return {};
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool bool_field(const json& object, const char* key) {
  if (!object.is_object()) return false;
  auto it = object.find(key);
  return it != object.end() && it->is_boolean() && it->get<bool>();
}

const json& object_field(const json& object, const char* key) {
  static const json empty = json::object();
  if (!object.is_object()) return empty;
  auto it = object.find(key);
  return it != object.end() && it->is_object() ? *it : empty;
}

const json& array_field(const json& object, const char* key) {
  static const json empty = json::array();
  if (!object.is_object()) return empty;
  auto it = object.find(key);
  return it != object.end() && it->is_array() ? *it : empty;
}

namespace {
// The client whose event thread this is (thread ids compare unreliably across thread libraries).
thread_local const DevToolsClient* event_thread_owner = nullptr;
}  // namespace

DevToolsClient::~DevToolsClient() { close(); }

std::unique_ptr<DevToolsClient> DevToolsClient::connect(const std::string& host, int port,
                                                        const std::string& path, Handlers handlers,
                                                        std::string* error, std::size_t max_message) {
  return open(
      [&](platform::MessageHandlers channel_handlers, std::string* channel_error) {
        return platform::WebSocket::connect(host, port, path, std::move(channel_handlers), channel_error);
      },
      std::move(handlers), error, max_message);
}

std::unique_ptr<DevToolsClient> DevToolsClient::open(const ChannelOpener& open_channel, Handlers handlers,
                                                     std::string* error, std::size_t max_message) {
  std::unique_ptr<DevToolsClient> client(new DevToolsClient());
  DevToolsClient* self = client.get();
  self->on_event_ = std::move(handlers.on_event);
  self->on_problem_ = std::move(handlers.on_problem);
  self->on_closed_ = std::move(handlers.on_closed);
  self->event_thread_ = std::jthread([self](std::stop_token stopping) {
    event_thread_owner = self;
    self->event_loop(stopping);
  });
  platform::MessageHandlers channel_handlers;
  channel_handlers.on_message = [self](std::string message) { self->on_message(std::move(message)); };
  channel_handlers.on_closed = [self] { self->on_closed(); };
  channel_handlers.on_oversized = [self](const std::string& head, std::size_t bytes) { self->on_oversized(head, bytes); };
  channel_handlers.on_problem = [self](const std::string& line) {
    if (self->on_problem_) self->on_problem_(line);
  };
  channel_handlers.max_message = max_message;
  auto channel = open_channel(std::move(channel_handlers), error);
  {
    // The reader may already be sorting messages: the channel is published under the lock.
    std::lock_guard lock(self->calls_mutex_);
    self->socket_ = std::move(channel);
  }
  if (!self->socket_) {
    self->on_closed_ = nullptr;  // never connected: nothing to tell
    return nullptr;              // the destructor stops the event thread
  }
  return client;
}

// On the reader thread: whatever one message costs, the reader goes on with the next.
void DevToolsClient::on_message(std::string message) {
  const std::size_t bytes = message.size();
  try {
    sort_message(message);
  } catch (const std::bad_alloc&) {
    if (on_problem_) on_problem_("browser message of " + std::to_string(bytes) + " bytes dropped (out of memory)");
  } catch (const std::exception& e) {
    if (on_problem_) on_problem_(std::string("a browser message could not be read: ") + e.what());
  }
}

void DevToolsClient::sort_message(std::string& message) {
  json parsed = parse_lenient(message);
  if (!parsed.is_object()) return;
  if (auto id = parsed.find("id"); id != parsed.end() && id->is_number_integer()) {
    std::lock_guard lock(calls_mutex_);
    auto it = pending_.find(id->get<long long>());
    if (it == pending_.end()) return;
    Pending& p = *it->second;
    if (auto r = parsed.find("result"); r != parsed.end()) {
      p.reply.ok = true;
      p.reply.result = std::move(*r);
    } else if (auto e = parsed.find("error"); e != parsed.end() && e->is_object()) {
      p.reply.error = text_field(*e, "message");
      if (p.reply.error.empty()) p.reply.error = "error";
    } else {
      p.reply.error = "malformed reply";
    }
    p.done = true;
    pending_.erase(it);
    calls_cv_.notify_all();
    return;
  }
  auto method = parsed.find("method");
  if (method == parsed.end() || !method->is_string()) return;
  auto event = std::make_shared<DevToolsEvent>();
  event->method = method->get<std::string>();
  if (auto s = parsed.find("sessionId"); s != parsed.end() && s->is_string())
    event->session_id = s->get<std::string>();
  if (auto p = parsed.find("params"); p != parsed.end()) event->params = std::move(*p);
  event->raw = std::move(message);
  queue_event(std::move(event));
}

void DevToolsClient::queue_event(std::shared_ptr<DevToolsEvent> event) {
  const std::size_t bytes = event->raw.size();
  std::string problem;
  {
    std::lock_guard lock(events_mutex_);
    if (event_thread_.get_stop_token().stop_requested()) return;
    const bool full = queued_events_ >= kMaxQueuedEvents ||
                      (queued_events_ > 0 && queued_event_bytes_ + bytes > kMaxQueuedEventBytes);
    if (full) {
      if (dropped_events_++ == 0)
        problem = "browser event dropped, the event queue is full (" + std::to_string(queued_events_) + " events, " +
                  std::to_string(queued_event_bytes_) + " bytes): " + event->method;
    } else {
      if (dropped_events_ > 0)
        problem = std::to_string(dropped_events_) + " browser events were dropped while the event queue was full";
      dropped_events_ = 0;
      ++queued_events_;
      queued_event_bytes_ += bytes;
      events_.push_back([this, event, bytes] {
        {
          std::lock_guard l(events_mutex_);
          --queued_events_;
          queued_event_bytes_ -= bytes;
        }
        if (on_event_) on_event_(*event);
      });
    }
  }
  events_cv_.notify_one();
  if (!problem.empty() && on_problem_) on_problem_(problem);
}

void DevToolsClient::on_oversized(const std::string& head, std::size_t bytes) {
  if (on_problem_)
    on_problem_("browser message of " + std::to_string(bytes) + " bytes dropped (over the limit): " +
                head.substr(0, 120));
  // A reply begins with its id: the call waiting for it fails now instead of at its time-out.
  const std::string key = "{\"id\":";
  if (head.rfind(key, 0) != 0) return;
  long long id = 0;
  const auto [end, ec] = std::from_chars(head.data() + key.size(), head.data() + head.size(), id);
  if (ec != std::errc()) return;
  std::lock_guard lock(calls_mutex_);
  auto it = pending_.find(id);
  if (it == pending_.end()) return;
  it->second->done = true;
  it->second->reply.error = "the reply was too large";
  pending_.erase(it);
  calls_cv_.notify_all();
}

void DevToolsClient::on_closed() {
  std::function<void()> tell;
  {
    std::lock_guard lock(calls_mutex_);
    if (!closed_) tell = std::move(on_closed_);
    closed_ = true;
    for (auto& [id, p] : pending_) {
      p->done = true;
      p->reply.error = "the browser connection has ended";
    }
    pending_.clear();
    calls_cv_.notify_all();
  }
  if (tell) tell();
}

DevToolsReply DevToolsClient::call(std::string_view method, json params, std::string_view session_id,
                                   std::chrono::milliseconds timeout) {
  auto pending = std::make_shared<Pending>();
  long long id = 0;
  {
    std::lock_guard lock(calls_mutex_);
    if (closed_ || !socket_) {
      pending->reply.error = "the browser connection has ended";
      return pending->reply;
    }
    id = ++next_id_;
    pending_[id] = pending;
  }
  json message = {{"id", id}, {"method", method}, {"params", std::move(params)}};
  if (!session_id.empty()) message["sessionId"] = session_id;
  if (!socket_->send(message.dump(-1, ' ', false, json::error_handler_t::replace))) {
    std::lock_guard lock(calls_mutex_);
    pending_.erase(id);
    pending->reply.error = "the browser connection has ended";
    return pending->reply;
  }
  std::unique_lock lock(calls_mutex_);
  if (!calls_cv_.wait_for(lock, timeout, [&] { return pending->done; })) {
    pending_.erase(id);
    pending->reply.error = "no reply within the time allowed";
  }
  return pending->reply;
}

bool DevToolsClient::post(std::function<void()> task, bool wait, std::chrono::milliseconds timeout) {
  if (wait && on_event_thread()) {
    run_task(task);
    return true;
  }
  auto done = std::make_shared<std::pair<std::mutex, std::condition_variable_any>>();
  auto finished = std::make_shared<bool>(false);
  {
    std::lock_guard lock(events_mutex_);
    if (event_thread_.get_stop_token().stop_requested()) return false;
    if (wait) {
      events_.push_back([this, task = std::move(task), done, finished] {
        run_task(task);
        std::lock_guard l(done->first);
        *finished = true;
        done->second.notify_all();
      });
    } else {
      events_.push_back(std::move(task));
    }
  }
  events_cv_.notify_one();
  if (!wait) return true;
  // stop_events() drops the queued task: its stop ends the wait too.
  std::unique_lock lock(done->first);
  return done->second.wait_for(lock, event_thread_.get_stop_token(), timeout, [&] { return *finished; });
}

bool DevToolsClient::connected() const {
  std::lock_guard lock(calls_mutex_);
  return !closed_ && socket_ && socket_->is_open();
}

bool DevToolsClient::on_event_thread() const { return event_thread_owner == this; }

void DevToolsClient::event_loop(std::stop_token stopping) {
  std::unique_lock lock(events_mutex_);
  while (events_cv_.wait(lock, stopping, [&] { return !events_.empty(); }) && !stopping.stop_requested()) {
    auto task = std::move(events_.front());
    events_.pop_front();
    lock.unlock();
    run_task(task);
    lock.lock();
  }
}

// A message of an unexpected shape costs that message only: the event thread goes on.
void DevToolsClient::run_task(const std::function<void()>& task) {
  try {
    task();
  } catch (const std::exception& e) {
    if (on_problem_) on_problem_(std::string("a browser message could not be handled: ") + e.what());
  }
}

void DevToolsClient::stop_events() {
  {
    // Under the lock, so no event or task is queued once the queue is cleared.
    std::lock_guard lock(events_mutex_);
    event_thread_.request_stop();  // wakes the event loop
    events_.clear();  // the counts of queued events no longer matter: nothing is queued again
  }
  join_event_thread();
}

// From the event thread itself (a handler closing its own client) there is nothing to wait for:
// its current task finishes and the loop ends; the thread stays joinable for the owner.
void DevToolsClient::join_event_thread() {
  if (on_event_thread()) return;
  std::lock_guard lock(join_mutex_);
  if (event_thread_.joinable()) event_thread_.join();
}

void DevToolsClient::close() {
  {
    std::lock_guard lock(events_mutex_);
    event_thread_.request_stop();
    events_.clear();
  }
  // The socket goes first, so a handler waiting in call() fails at once instead of holding up
  // the join below.
  if (socket_) socket_->close();
  on_closed();
  join_event_thread();
}

}  // namespace qz::capture
