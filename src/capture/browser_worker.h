#pragma once
// The one thread that talks to the browser for the window's buttons: starting it, attaching to
// one, opening and navigating pages can each take seconds, or hang with the browser, and the
// window must answer clicks meanwhile. Work runs in click order.
#include <condition_variable>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace qz::capture {

class BrowserWorker {
 public:
  BrowserWorker();
  BrowserWorker(const BrowserWorker&) = delete;
  BrowserWorker& operator=(const BrowserWorker&) = delete;
  ~BrowserWorker();  // request_stop() and join()

  // Queues `task` after the ones before it; returns at once. Ignored once stopping.
  void post(std::function<void()> task);
  // Drops what has not started; the task running finishes (the browser side is told to give up
  // by its own stop call).
  void request_stop();
  // Waits for the running task; after `limit` the thread is left to end by itself, so closing
  // never hangs on a browser that does not answer. True when it ended in time.
  bool join(std::chrono::milliseconds limit = std::chrono::seconds(5));
  // True while a task runs or waits.
  bool busy() const;

 private:
  // Shared with the thread, which may outlive this object when it was left to end by itself.
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<std::function<void()>> tasks;
    bool running_task = false;
    bool stopping = false;
    bool ended = false;
  };
  static void run(const std::shared_ptr<State>& state);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace qz::capture
