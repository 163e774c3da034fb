#pragma once
// The one thread that talks to the browser for the window's buttons: starting it, attaching to
// one, opening and navigating pages can each take seconds, or hang with the browser, and the
// window must answer clicks meanwhile. Work runs in click order.
//
// Every task gets a stop token: a task still running when its time at closing is up is cancelled
// through it and waited for, so no task ever runs past the worker (or the object that posted it).
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

namespace qz::capture {

class BrowserWorker {
 public:
  // Runs on the worker; `cancel` is requested when the task has outlived its time at closing,
  // and the task must then give up promptly.
  using Task = std::function<void(std::stop_token cancel)>;

  BrowserWorker();
  BrowserWorker(const BrowserWorker&) = delete;
  BrowserWorker& operator=(const BrowserWorker&) = delete;
  ~BrowserWorker();  // request_stop() and join()

  // Queues `task` after the ones before it; returns at once. Ignored once stopping.
  void post(Task task);
  // Drops what has not started; the task running goes on (the browser side is told to give up
  // by its own stop call).
  void request_stop();
  // request_stop(), then waits up to `limit` for the running task; past it the task is cancelled
  // through its token. Either way the thread has ended on return. True when it ended in time.
  bool join(std::chrono::milliseconds limit = std::chrono::seconds(5));
  // True while a task runs or waits.
  bool busy() const;

 private:
  void run(std::stop_token stopping);

  mutable std::mutex mutex_;
  std::condition_variable_any changed_;  // a task came, one ended, or the thread did
  std::deque<Task> tasks_;
  bool running_task_ = false;
  bool ended_ = false;
  std::stop_source cancel_;  // handed to every task
  std::jthread thread_;      // last: it starts once everything it uses is there
};

}  // namespace qz::capture
