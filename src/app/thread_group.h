#pragma once
// Threads with an owner: whoever starts work on a ThreadGroup joins it, at the latest when the
// group goes. Nothing started on a group is detached, so none of its threads reports into freed
// memory.
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qz::app {

class ThreadGroup {
 public:
  ThreadGroup() = default;
  ThreadGroup(const ThreadGroup&) = delete;
  ThreadGroup& operator=(const ThreadGroup&) = delete;
  ~ThreadGroup();  // joins what join_all left

  void start(std::function<void()> body);

  // Joins every thread started so far. A thread of the group that calls this (closing the
  // program from its own work) is left out: it cannot wait for itself; the group's end joins it.
  void join_all();

 private:
  std::mutex mutex_;
  std::vector<std::thread> threads_;
};

}  // namespace qz::app
