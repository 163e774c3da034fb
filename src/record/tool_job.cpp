#include "record/tool_job.h"

namespace qz::record {

bool ToolJob::start(const platform::ProcessOptions& options) {
  // Held across the start so a stop arriving meanwhile finds either no tool and the flag,
  // or the started tool.
  std::lock_guard lock(mutex_);
  if (stop_requested_) return false;
  if (process_->started()) process_ = std::make_unique<platform::Process>();
  return process_->start(options);
}

int ToolJob::process_id() const {
  std::lock_guard lock(mutex_);
  return process_->id();
}

void ToolJob::request_stop() {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    stop_requested_ = true;
    handler = stop_handler_;
    if (!handler && process_->started()) process_->stop_gracefully();
  }
  changed_.notify_all();
  if (handler) handler();  // outside the lock: the handler may look at the job
  std::lock_guard lock(mutex_);
  if (!stop_deadlines_.joinable()) stop_deadlines_ = std::jthread([this](std::stop_token until) { see_tool_out(until); });
}

bool ToolJob::tool_ends_within(std::chrono::milliseconds limit, const std::stop_token& until) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (!process_->running()) return true;
    }
    if (until.stop_requested()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void ToolJob::see_tool_out(std::stop_token until) {
  // No run starts after a stop, so the process looked at here is the one that was stopped.
  if (tool_ends_within(kStopAgainAfter, until)) return;
  {
    std::lock_guard lock(mutex_);
    process_->stop_gracefully();
  }
  if (tool_ends_within(kEndAfterStopAgain, until)) return;
  std::lock_guard lock(mutex_);
  process_->terminate();
}

void ToolJob::set_stop_handler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  stop_handler_ = std::move(handler);
}

bool ToolJob::stop_requested() const {
  std::lock_guard lock(mutex_);
  return stop_requested_;
}

void ToolJob::terminate() {
  {
    std::lock_guard lock(mutex_);
    stop_requested_ = true;
    if (process_->started()) process_->terminate();
  }
  changed_.notify_all();
}

bool ToolJob::wait_for_stop(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return stop_requested_; });
}

void ToolJob::stop_run() {
  std::lock_guard lock(mutex_);
  if (process_->started()) process_->stop_gracefully();
}

void ToolJob::terminate_run() {
  std::lock_guard lock(mutex_);
  if (process_->started()) process_->terminate();
}

void ToolJob::mark_finished() {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
}

bool ToolJob::finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

bool ToolJob::wait_finished(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return finished_; });
}

}  // namespace qz::record
