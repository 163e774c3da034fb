#include "ui/headless/headless_desktop.h"

#include <future>

namespace qz::ui {

HeadlessDesktop::HeadlessDesktop() : thread_([this] { loop(); }) {}

HeadlessDesktop::~HeadlessDesktop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void HeadlessDesktop::loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (tasks_.empty()) {
      if (stopping_) return;
      wake_.wait(lock);
      continue;
    }
    const auto due = tasks_.begin()->first;
    if (Clock::now() < due) {
      // Tasks not yet due are dropped at shutdown, as a closed window drops its timers.
      if (stopping_) return;
      wake_.wait_until(lock, due);
      continue;
    }
    auto task = std::move(tasks_.begin()->second);
    tasks_.erase(tasks_.begin());
    lock.unlock();
    task();
    lock.lock();
  }
}

app::MessageReply HeadlessDesktop::message_box(const app::MessageBoxRequest& request) {
  std::function<void(const app::MessageBoxRequest&)> printer;
  app::MessageReply reply = app::MessageReply::Ok;
  {
    std::lock_guard lock(mutex_);
    boxes_.push_back(request);
    printer = printer_;
    if (!replies_.empty()) {
      reply = replies_.front();
      replies_.pop_front();
    }
  }
  if (printer) printer(request);
  return reply;
}

void HeadlessDesktop::open_with_default_handler(const std::string& address) {
  std::lock_guard lock(mutex_);
  opened_.push_back(address);
}

void HeadlessDesktop::post(std::function<void()> task, int delay_ms) {
  {
    std::lock_guard lock(mutex_);
    tasks_.emplace(Clock::now() + std::chrono::milliseconds(delay_ms), std::move(task));
  }
  wake_.notify_all();
}

void HeadlessDesktop::script_replies(std::vector<app::MessageReply> replies) {
  std::lock_guard lock(mutex_);
  replies_.assign(replies.begin(), replies.end());
}

std::vector<app::MessageBoxRequest> HeadlessDesktop::shown_boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<std::string> HeadlessDesktop::opened_addresses() const {
  std::lock_guard lock(mutex_);
  return opened_;
}

void HeadlessDesktop::set_box_printer(std::function<void(const app::MessageBoxRequest&)> printer) {
  std::lock_guard lock(mutex_);
  printer_ = std::move(printer);
}

void HeadlessDesktop::run_on_ui(const std::function<void()>& task) {
  if (std::this_thread::get_id() == thread_.get_id()) {
    task();
    return;
  }
  std::promise<void> done;
  post([&] {
    task();
    done.set_value();
  });
  done.get_future().wait();
}

void HeadlessDesktop::open_window(app::Application& app) {
  run_on_ui([&] { app.window_created(); });
  post([&app] { app.startup_step(); }, 1000);
}

bool HeadlessDesktop::wait_until(const std::function<bool()>& done,
                                 std::chrono::milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace qz::ui
