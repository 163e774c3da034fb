// The browser worker at closing: a task that outlives its time is cancelled through its token
// and waited for, so it never runs on inside an owner that has gone; tasks not started are
// dropped.
#include "capture/browser_worker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace qz::capture {
namespace {

// What a task of the window's browser work touches: its owner, which goes right after join().
struct Owner {
  std::vector<std::string> steps;
  BrowserWorker worker;  // last, as in the owners of the program
};

struct Gate {
  std::mutex mutex;
  std::condition_variable_any changed;
  bool started = false;

  void open() {
    std::lock_guard lock(mutex);
    started = true;
    changed.notify_all();
  }
  void wait_open() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return started; });
  }
  // A browser call that never answers: it ends only when cancelled.
  void hang(const std::stop_token& cancel) {
    std::unique_lock lock(mutex);
    changed.wait(lock, cancel, [] { return false; });
  }
};

TEST(BrowserWorkerTest, ATaskPastItsTimeIsCancelledAndJoinedBeforeItsOwnerGoes) {
  Gate gate;
  auto owner = std::make_unique<Owner>();
  Owner* o = owner.get();
  owner->worker.post([&gate, o](std::stop_token cancel) {
    gate.open();
    gate.hang(cancel);
    o->steps.push_back(cancel.stop_requested() ? "cancelled" : "ended by itself");
  });
  owner->worker.post([o](std::stop_token) { o->steps.push_back("queued task ran"); });
  gate.wait_open();
  EXPECT_TRUE(owner->worker.busy());
  EXPECT_FALSE(owner->worker.join(std::chrono::milliseconds(1)));  // it cannot end by itself
  EXPECT_FALSE(owner->worker.busy());
  EXPECT_EQ(owner->steps, std::vector<std::string>{"cancelled"});
  owner.reset();  // nothing of the worker runs any more: under ASan a late step would be a use after free
}

TEST(BrowserWorkerTest, TasksRunInOrderAndNoneIsTakenOnceStopping) {
  std::vector<int> ran;
  {
    BrowserWorker worker;
    Gate gate;
    for (int i = 1; i <= 3; ++i) worker.post([&ran, i](std::stop_token) { ran.push_back(i); });
    worker.post([&gate](std::stop_token) { gate.open(); });
    gate.wait_open();
    worker.request_stop();
    worker.post([&ran](std::stop_token) { ran.push_back(99); });
    EXPECT_TRUE(worker.join());
  }
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace qz::capture
