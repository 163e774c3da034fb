#pragma once
// A live recording that survives drops: when its ffmpeg ends without a stop (the source closed,
// the network failed, the stream stalled), it tries again every couple of seconds with the
// address the window has now, saving each continuation as a part of its own, until the stream
// is back or the reconnect time has passed. The user's stop wins at every moment.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/context.h"
#include "app/job_report.h"
#include "record/live_parts.h"
#include "record/tool_job.h"

namespace qz::record {

struct LiveSettings {
  std::chrono::milliseconds reconnect_for{std::chrono::seconds(180)};
  std::chrono::milliseconds stall_after{std::chrono::seconds(30)};
  std::chrono::milliseconds retry_every{std::chrono::seconds(2)};
  // A stalled ffmpeg asked to stop gets this long before it is ended.
  std::chrono::milliseconds stall_grace{std::chrono::seconds(5)};
};

// How the recording ended.
enum class LiveEnd {
  kStopped,      // the user's stop (or the closing program)
  kGaveUp,       // the reconnect time passed without a stream
  kNeverStarted, // the first run saved nothing (a wrong address, a missing tool): as before
  kCannotWrite,  // the disk or the folder refuses the file: trying again would not help
};

class LiveRecording {
 public:
  LiveRecording(app::Context& ctx, ToolJob& job, app::JobReport report, LiveSettings settings,
                std::string address_box, int udp_port)
      : ctx_(ctx), job_(job), report_(std::move(report)), settings_(settings),
        address_box_(std::move(address_box)), udp_port_(udp_port) {}

  // Records from `address` into `base`.mp4 and its parts; status lines go to the job's report,
  // the gap lines to the run log as well. The job's state follows the stream (running while it
  // flows, reconnecting while it is away) and its parts are on the board as they are made.
  LiveEnd run(const std::string& address, const std::string& base);
  const std::vector<RecordedPart>& parts() const { return parts_; }
  // The line that said why the recording ended by itself; empty after a stop.
  const std::string& end_reason() const { return end_reason_; }

 private:
  struct Run;
  LiveEnd record_parts(const std::string& address, const std::string& base);
  void add_part(const std::string& file, const Run& run);
  // `hole_seconds`: for a continuation, how long the stream has been lost when this try starts.
  Run run_once(const std::string& address, const std::string& file, bool continuation, double hole_seconds);
  void say(const std::string& line, bool to_run_log);

  app::Context& ctx_;
  ToolJob& job_;
  app::JobReport report_;
  LiveSettings settings_;
  std::string address_box_;
  int udp_port_;
  std::vector<RecordedPart> parts_;
  std::string end_reason_;
  bool audio_filter_ = true;  // false once ffmpeg has refused it: the room's audio is not AAC
};

// Joins the parts that share their stream parameters (in order, losslessly) into
// "<base>_joined.mp4" (a further group into "<base>_joined_2.mp4", …); the parts stay. Reports
// each result through `line`.
void join_parts(const std::string& ffmpeg, const std::vector<RecordedPart>& parts, const std::string& base,
                const std::function<void(const std::string&)>& line);

}  // namespace qz::record
