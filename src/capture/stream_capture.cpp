#include "capture/stream_capture.h"

#include "capture/request_rules.h"

namespace qz::capture {

StreamCapture::StreamCapture(app::Context& ctx, PageOperations& pages, CaptureState& state,
                             std::chrono::milliseconds poll_interval)
    : ctx_(ctx),
      pages_(pages),
      state_(state),
      poll_interval_(poll_interval),
      examiner_(dashboard_marker(ctx.config.live_host)) {}

StreamCapture::~StreamCapture() {
  request_stop();
  join();
}

void StreamCapture::handle_request(PageHandle page, std::string_view event_text) {
  // The event is examined before the lock: the JSON work needs nothing shared. What the event
  // changes (the live box, a new worker) happens under the capture lock.
  const RequestOutcome outcome = examiner_.examine(event_text);
  if (outcome.live_address.empty() && !outcome.dashboard) return;
  std::lock_guard lock(state_.capture_lock);
  if (!outcome.live_address.empty()) ctx_.window.set_text(app::kLiveAddressBox, outcome.live_address);
  if (outcome.dashboard) start_worker(page);
}

void StreamCapture::start_worker(PageHandle origin) {
  std::lock_guard lock(workers_mutex_);
  if (stopping_) return;
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (*it->done) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
  if (!waiting_.insert(origin).second) return;  // one waits already for this page
  ++started_;
  auto done = std::make_shared<std::atomic<bool>>(false);
  workers_.push_back({std::thread([this, origin, done] {
                        replay_worker(origin);
                        *done = true;
                      }),
                      done});
}

bool StreamCapture::wait_or_stop() {
  std::unique_lock lock(workers_mutex_);
  return !stop_cv_.wait_for(lock, poll_interval_, [&] { return stopping_; });
}

void StreamCapture::replay_worker(PageHandle origin) {
  std::string address;
  PageHandle page = 0;
  for (;;) {
    // The current page is read afresh each time: a newer page redirects the worker. It is read
    // once a round, so the statistics request goes to the very page whose address holds
    // "showId=", even when a newer page arrives between the two calls.
    page = state_.current_page;
    address = pages_.form_get_page_url(page);
    if (address.find("showId=") != std::string::npos) break;
    if (!wait_or_stop()) {
      std::lock_guard lock(workers_mutex_);
      waiting_.erase(origin);
      return;
    }
  }
  {
    std::lock_guard lock(workers_mutex_);
    waiting_.erase(origin);
  }
  const std::string body = pages_.form_ajax_lacal(page, statistics_address(address));
  const std::string playlist = first_replay_playlist(body, ctx_.config.replay_cdn);
  if (!playlist.empty()) ctx_.window.set_text(app::kReplayAddressBox, playlist);
}

void StreamCapture::request_stop() {
  {
    std::lock_guard lock(workers_mutex_);
    stopping_ = true;
  }
  stop_cv_.notify_all();
}

void StreamCapture::join() {
  std::list<Worker> workers;
  {
    std::lock_guard lock(workers_mutex_);
    workers.swap(workers_);
  }
  for (Worker& w : workers)
    if (w.thread.joinable()) w.thread.join();
}

int StreamCapture::waiting_workers() const {
  std::lock_guard lock(workers_mutex_);
  return static_cast<int>(waiting_.size());
}

int StreamCapture::started_workers() const {
  std::lock_guard lock(workers_mutex_);
  return started_;
}

}  // namespace qz::capture
