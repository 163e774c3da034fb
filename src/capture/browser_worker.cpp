#include "capture/browser_worker.h"

namespace qz::capture {

BrowserWorker::BrowserWorker() : thread_([this](std::stop_token stopping) { run(stopping); }) {}

BrowserWorker::~BrowserWorker() { join(); }

void BrowserWorker::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    if (thread_.get_stop_token().stop_requested()) return;
    tasks_.push_back(std::move(task));
  }
  changed_.notify_all();
}

void BrowserWorker::request_stop() {
  // Under the lock, so no post() slips in between: nothing is queued once stopping.
  std::lock_guard lock(mutex_);
  thread_.request_stop();  // wakes the wait in run()
  tasks_.clear();
}

bool BrowserWorker::join(std::chrono::milliseconds limit) {
  request_stop();
  if (!thread_.joinable()) return true;
  bool in_time = false;
  {
    std::unique_lock lock(mutex_);
    in_time = changed_.wait_for(lock, limit, [&] { return ended_; });
  }
  // Still inside a browser call: the task is told to give up, and is waited for.
  if (!in_time) cancel_.request_stop();
  thread_.join();
  return in_time;
}

bool BrowserWorker::busy() const {
  std::lock_guard lock(mutex_);
  return running_task_ || !tasks_.empty();
}

void BrowserWorker::run(std::stop_token stopping) {
  std::unique_lock lock(mutex_);
  while (changed_.wait(lock, stopping, [&] { return !tasks_.empty(); }) && !stopping.stop_requested()) {
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    running_task_ = true;
    lock.unlock();
    task(cancel_.get_token());
    task = nullptr;  // what the task holds goes here, on the worker, before it counts as done
    lock.lock();
    running_task_ = false;
  }
  ended_ = true;
  changed_.notify_all();
}

}  // namespace qz::capture
