#pragma once
// The recording jobs' names for the display box's writers (the box and its rule live in app/).
#include "app/display_box.h"
#include "app/job_report.h"

namespace qz::record {

using app::kDisplayBox;
using app::kDisplayLimit;
using app::write_display;

// app::replace_progress_line; while a ProgressRoute for `window` stands, the line is also that
// job's progress on the board.
void replace_display_line(app::WindowModel& window, const std::string& prefix, const std::string& line);

// The replay download writes its progress line straight into the window's box: while a job's
// replay runs, this carries that line to the job's report as well. One route per window at a time.
class ProgressRoute {
 public:
  ProgressRoute(app::WindowModel& window, const app::JobReport& report);
  ~ProgressRoute();
  ProgressRoute(const ProgressRoute&) = delete;
  ProgressRoute& operator=(const ProgressRoute&) = delete;

 private:
  app::WindowModel& window_;
};

}  // namespace qz::record
