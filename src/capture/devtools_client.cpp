#include "capture/devtools_client.h"

namespace qz::capture {

using nlohmann::json;

namespace {
// The client whose event thread this is (thread ids compare unreliably across thread libraries).
thread_local const DevToolsClient* event_thread_owner = nullptr;
}  // namespace

DevToolsClient::~DevToolsClient() { close(); }

std::unique_ptr<DevToolsClient> DevToolsClient::connect(const std::string& host, int port,
                                                        const std::string& path, EventHandler on_event,
                                                        std::string* error) {
  std::unique_ptr<DevToolsClient> client(new DevToolsClient());
  DevToolsClient* self = client.get();
  self->on_event_ = std::move(on_event);
  self->event_thread_ = std::thread([self] {
    event_thread_owner = self;
    self->event_loop();
  });
  platform::WebSocketHandlers handlers;
  handlers.on_message = [self](std::string message) { self->on_message(std::move(message)); };
  handlers.on_closed = [self] { self->on_closed(); };
  self->socket_ = platform::WebSocket::connect(host, port, path, std::move(handlers), error);
  if (!self->socket_) return nullptr;  // the destructor stops the event thread
  return client;
}

void DevToolsClient::on_message(std::string message) {
  json parsed = json::parse(message, nullptr, false);
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
      p.reply.error = e->value("message", std::string("error"));
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
  post([this, event] {
    if (on_event_) on_event_(*event);
  });
}

void DevToolsClient::on_closed() {
  std::lock_guard lock(calls_mutex_);
  closed_ = true;
  for (auto& [id, p] : pending_) {
    p->done = true;
    p->reply.error = "the browser connection has ended";
  }
  pending_.clear();
  calls_cv_.notify_all();
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
    task();
    return true;
  }
  auto done = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
  auto finished = std::make_shared<bool>(false);
  {
    std::lock_guard lock(events_mutex_);
    if (events_stopped_) return false;
    if (wait) {
      events_.push_back([task = std::move(task), done, finished] {
        task();
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
  // Checked in slices so that stop_events(), which drops the queued task, ends the wait too.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(done->first);
  while (!*finished) {
    if (std::chrono::steady_clock::now() >= deadline || events_stopped()) return false;
    done->second.wait_for(lock, std::chrono::milliseconds(50));
  }
  return true;
}

bool DevToolsClient::events_stopped() {
  std::lock_guard lock(events_mutex_);
  return events_stopped_;
}

bool DevToolsClient::connected() const {
  std::lock_guard lock(calls_mutex_);
  return !closed_ && socket_ && socket_->is_open();
}

bool DevToolsClient::on_event_thread() const { return event_thread_owner == this; }

void DevToolsClient::event_loop() {
  std::unique_lock lock(events_mutex_);
  for (;;) {
    events_cv_.wait(lock, [&] { return events_stopped_ || !events_.empty(); });
    if (events_stopped_) return;
    auto task = std::move(events_.front());
    events_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}

void DevToolsClient::stop_events() {
  {
    std::lock_guard lock(events_mutex_);
    events_stopped_ = true;
    events_.clear();
  }
  events_cv_.notify_all();
  if (event_thread_.joinable() && !on_event_thread()) event_thread_.join();
}

void DevToolsClient::close() {
  {
    std::lock_guard lock(events_mutex_);
    events_stopped_ = true;
    events_.clear();
  }
  events_cv_.notify_all();
  // The socket goes first, so a handler waiting in call() fails at once instead of holding up
  // the join below.
  if (socket_) socket_->close();
  on_closed();
  if (event_thread_.joinable()) {
    if (on_event_thread())
      event_thread_.detach();
    else
      event_thread_.join();
  }
}

}  // namespace qz::capture
