#pragma once
// The request handler: a "liveplay" request's POST body gives the live stream address for
// 编辑框_直播url; a request that mentions the live dashboard starts a replay worker, which waits
// until the current page's address holds "showId=", asks the platform's statistics address from
// inside the page and puts the first replay playlist into 编辑框_回放url.
#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "app/context.h"
#include "capture/automation.h"
#include "capture/capture_state.h"
#include "capture/request_rules.h"

namespace qz::capture {

class StreamCapture {
 public:
  StreamCapture(app::Context& ctx, PageOperations& pages, CaptureState& state,
                std::chrono::milliseconds poll_interval = std::chrono::seconds(3));
  ~StreamCapture();  // request_stop() and join()

  // The component's request handler, for every request a subscribed page is about to send. The
  // text is only read during the call; its owner keeps it.
  void handle_request(PageHandle page, std::string_view event_text);

  // Waiting workers end at once; no new worker starts.
  void request_stop();
  // Waits for every worker (one asking the browser ends when the component shuts down).
  void join();

  int waiting_workers() const;
  int started_workers() const;

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void start_worker(PageHandle origin);
  void replay_worker(PageHandle origin);
  bool wait_or_stop();

  app::Context& ctx_;
  PageOperations& pages_;
  CaptureState& state_;
  const std::chrono::milliseconds poll_interval_;
  const RequestExaminer examiner_;

  mutable std::mutex workers_mutex_;
  std::condition_variable stop_cv_;
  bool stopping_ = false;
  // Pages with a worker still waiting for "showId=": a dashboard page's every picture, script
  // and poll matches, and each would otherwise add a worker that may wait forever.
  std::set<PageHandle> waiting_;
  std::list<Worker> workers_;
  int started_ = 0;
};

}  // namespace qz::capture
