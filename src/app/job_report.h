#pragma once
// What one job tells, in one call: its line goes to the job board, and also to the window's
// display box when the window started the job (a job without a window, a watched room's, tells
// the board alone). The box keeps the texts and the 2000-byte rule it has always had; the board
// keeps the line as the job's latest.
#include <string>
#include <vector>

#include "app/job_board.h"
#include "app/window_model.h"

namespace qz::app {

class JobReport {
 public:
  JobReport() = default;  // tells no one
  // `board` or `window` may be null: that one is not told.
  JobReport(JobBoard* board, JobId id, WindowModel* window) : board_(board), id_(id), window_(window) {}

  JobId id() const { return id_; }
  // True when the job is on the board.
  bool on_board() const { return board_ != nullptr; }

  // A line added to the box.
  void line(const std::string& text) const;
  // A line that replaces the box's whole text: the first line of a new start, or of a stop.
  void first_line(const std::string& text) const;
  // A line left open at the box's end: the box's next line continues it.
  void open_line(const std::string& text) const;
  // A progress line: replaces the box's last line starting with `prefix`.
  void progress(const std::string& prefix, const std::string& text) const;

  void set_state(JobState state) const;
  void set_parts(std::vector<JobPart> parts) const;
  bool end(JobEnding ending) const;

 private:
  JobBoard* board_ = nullptr;
  JobId id_ = 0;
  WindowModel* window_ = nullptr;
};

}  // namespace qz::app
