#include "app/thread_group.h"

namespace qz::app {

ThreadGroup::~ThreadGroup() {
  join_all();
  // Only the group's own thread can be left, when it ends the group itself: it is on its way out.
  std::lock_guard lock(mutex_);
  for (std::thread& t : threads_)
    if (t.joinable()) t.detach();
}

void ThreadGroup::start(std::function<void()> body) {
  std::lock_guard lock(mutex_);
  threads_.emplace_back(std::move(body));
}

void ThreadGroup::join_all() {
  // Threads may start more threads while we wait, so take turns until none is left.
  for (;;) {
    std::vector<std::thread> batch;
    {
      std::lock_guard lock(mutex_);
      for (auto it = threads_.begin(); it != threads_.end();) {
        if (it->get_id() == std::this_thread::get_id()) {
          ++it;
          continue;
        }
        batch.push_back(std::move(*it));
        it = threads_.erase(it);
      }
    }
    if (batch.empty()) return;
    for (std::thread& t : batch)
      if (t.joinable()) t.join();
  }
}

}  // namespace qz::app
