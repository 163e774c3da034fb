#pragma once
// WinHTTP's own timeouts do not bound every wait everywhere. Wine's, for one, waits for the TLS
// handshake under the response timeout alone, which has no limit there unless it is set: a server
// that took the connection and then said nothing (a captive portal, a plain-text server on 443
// waiting for a request line) held WinHttpSendRequest for as long as it kept the connection open.
// The requests set every timeout they can; on top of that an exchange runs on a thread of its own,
// announcing each blocking call as it enters it, and the caller gives up on it once one call has
// lasted well past the timeout WinHTTP was given for it, reporting the phase it was stuck in.
//
// The abandoned thread is not touched again: it finishes on its own (when the peer finally closes)
// and closes its own handles. Nothing but that thread ever closes them, so a handle value WinHTTP
// has since handed to another request is never closed by mistake.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace qz::platform {

// What the exchange tells its watcher: each blocking call announces itself before it starts.
class CallClock {
 public:
  void entering(int phase) {
    std::lock_guard lock(mutex_);
    phase_ = phase;
    since_ = std::chrono::steady_clock::now();
  }

 private:
  template <class Result, class Work>
  friend struct Watched;
  std::mutex mutex_;
  std::condition_variable finished_;
  bool done_ = false;
  int phase_ = 0;
  std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
};

template <class Result, class Work>
struct Watched {
  std::optional<Result> result;  // nothing: given up
  int stuck_phase = 0;           // the phase last announced when given up

  // `work(CallClock&)` returns the Result; it must own everything it uses (it may outlive the
  // caller). A call that has run `call_limit` without returning ends the wait.
  static Watched run(Work work, std::chrono::milliseconds call_limit) {
    struct State {
      CallClock clock;
      std::optional<Result> result;
    };
    auto state = std::make_shared<State>();
    auto task = [state, work = std::move(work)]() mutable {
      Result r = work(state->clock);
      std::lock_guard lock(state->clock.mutex_);
      state->result = std::move(r);
      state->clock.done_ = true;
      state->clock.finished_.notify_all();
    };
    try {
      std::thread(task).detach();
    } catch (const std::system_error&) {
      task();  // no thread to be had: bounded by WinHTTP alone
    }
    std::unique_lock lock(state->clock.mutex_);
    for (;;) {
      if (state->clock.done_) return {std::move(state->result), 0};
      const auto deadline = state->clock.since_ + call_limit;
      if (std::chrono::steady_clock::now() >= deadline) return {std::nullopt, state->clock.phase_};
      state->clock.finished_.wait_until(lock, deadline);
    }
  }
};

// How long one call may take before it is given up: twice the timeout WinHTTP was given, since
// one call (the send) may spend a timeout on connecting and another on the handshake.
inline std::chrono::milliseconds call_limit_for(int timeout_ms) {
  return std::chrono::milliseconds(2LL * (timeout_ms > 0 ? timeout_ms : 30000));
}

template <class Work>
auto run_watched(Work work, int timeout_ms) {
  using Result = decltype(work(std::declval<CallClock&>()));
  return Watched<Result, Work>::run(std::move(work), call_limit_for(timeout_ms));
}

}  // namespace qz::platform
