#pragma once
// A job's runs of a tool: the process of the present run and the wish to stop. The job's thread
// starts and reads the tool, one run after another (a live recording starts a new run when its
// stream drops); the window thread (a stop click, the closing window) asks it to stop. A stop
// asked for before a run has started keeps it from starting at all, and no run starts after it.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "platform/process.h"

namespace qz::record {

// A stopped tool that is still running this long after the stop is asked again: ffmpeg takes a
// second interrupt as the order to give up an input it is waiting on (a live playlist that does
// not grow holds it past the first, which it only notes between two packets). One still running
// after the second wait is ended: the user is told within five seconds what was kept.
inline constexpr std::chrono::milliseconds kStopAgainAfter{3000};
inline constexpr std::chrono::milliseconds kEndAfterStopAgain{1500};

class ToolJob {
 public:
  ToolJob() : process_(std::make_unique<platform::Process>()) {}

  // Starts a run of the tool unless a stop was asked for; false when it did not start. The
  // previous run (if any) must have ended.
  bool start(const platform::ProcessOptions& options);
  // The present (or last) run. Only the job's thread uses it.
  platform::Process& process() { return *process_; }
  int process_id() const;

  // Graceful: ffmpeg closes its files and prints its closing statistics. Ends the job. With a
  // stop handler set, the handler is called instead and sees to the tool's end itself (a tool
  // reading from a local server of ours is ended by its input running out). Either way the tool
  // is asked again, and then ended, when it is slow to go (kStopAgainAfter, kEndAfterStopAgain).
  void request_stop();
  void set_stop_handler(std::function<void()> handler);
  bool stop_requested() const;
  // Ends the tool at once (after a graceful stop that was not obeyed in time). Ends the job.
  void terminate();
  // Waits up to `timeout` for a stop request; true when one has come.
  bool wait_for_stop(std::chrono::milliseconds timeout);

  // The job's own stop of the present run (a stream that delivers nothing): the job goes on.
  void stop_run();
  void terminate_run();

  // Set by the job's thread when the tool has ended and its output is drained.
  void mark_finished();
  bool finished() const;
  bool wait_finished(std::chrono::milliseconds timeout);

 private:
  // After a stop: the tool's two deadlines, unless it ends first or the job goes away.
  void see_tool_out(std::stop_token until);
  bool tool_ends_within(std::chrono::milliseconds limit, const std::stop_token& until);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_requested_ = false;
  bool finished_ = false;
  std::function<void()> stop_handler_;
  std::unique_ptr<platform::Process> process_;
  std::jthread stop_deadlines_;  // last: it ends and is joined before the rest goes
};

}  // namespace qz::record
