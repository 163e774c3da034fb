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

#include "platform/process.h"

namespace qz::record {

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
  // reading from a local server of ours is ended by its input running out).
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
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_requested_ = false;
  bool finished_ = false;
  std::function<void()> stop_handler_;
  std::unique_ptr<platform::Process> process_;
};

}  // namespace qz::record
