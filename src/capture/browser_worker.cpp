#include "capture/browser_worker.h"

namespace qz::capture {

BrowserWorker::BrowserWorker() : state_(std::make_shared<State>()) {
  thread_ = std::thread([state = state_] { run(state); });
}

BrowserWorker::~BrowserWorker() {
  request_stop();
  join();
}

void BrowserWorker::post(std::function<void()> task) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->stopping) return;
    state_->tasks.push_back(std::move(task));
  }
  state_->wake.notify_one();
}

void BrowserWorker::request_stop() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    state_->tasks.clear();
  }
  state_->wake.notify_all();
}

bool BrowserWorker::join(std::chrono::milliseconds limit) {
  if (!thread_.joinable()) return true;
  {
    std::unique_lock lock(state_->mutex);
    if (!state_->idle.wait_for(lock, limit, [&] { return state_->ended; })) {
      // Still inside a browser call: it ends by itself once that call gives up.
      thread_.detach();
      return false;
    }
  }
  thread_.join();
  return true;
}

bool BrowserWorker::busy() const {
  std::lock_guard lock(state_->mutex);
  return state_->running_task || !state_->tasks.empty();
}

void BrowserWorker::run(const std::shared_ptr<State>& state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->wake.wait(lock, [&] { return state->stopping || !state->tasks.empty(); });
    if (state->stopping) break;
    auto task = std::move(state->tasks.front());
    state->tasks.pop_front();
    state->running_task = true;
    lock.unlock();
    task();
    lock.lock();
    state->running_task = false;
  }
  state->ended = true;
  state->idle.notify_all();
}

}  // namespace qz::capture
