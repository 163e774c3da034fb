#pragma once
// One run of a tool on behalf of a job: the process it started and the wish to stop it. The job's
// thread starts and reads the tool; the window thread (a stop click, the closing window) asks it
// to stop. A stop asked for before the tool has started keeps it from starting at all.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/process.h"

namespace qz::record {

class ToolJob {
 public:
  // Starts the tool unless a stop was asked for; false when it did not start.
  bool start(const platform::ProcessOptions& options);
  platform::Process& process() { return process_; }
  int process_id() const { return process_.id(); }

  // Graceful: ffmpeg closes its files and prints its closing statistics. With a stop handler
  // set, the handler is called instead and sees to the tool's end itself (a tool reading from a
  // local server of ours is ended by its input running out).
  void request_stop();
  void set_stop_handler(std::function<void()> handler);
  bool stop_requested() const;
  // Ends the tool at once (after a graceful stop that was not obeyed in time).
  void terminate();

  // Set by the job's thread when the tool has ended and its output is drained.
  void mark_finished();
  bool finished() const;
  bool wait_finished(std::chrono::milliseconds timeout);

 private:
  mutable std::mutex mutex_;
  std::condition_variable finished_changed_;
  bool stop_requested_ = false;
  bool finished_ = false;
  std::function<void()> stop_handler_;
  platform::Process process_;
};

}  // namespace qz::record
