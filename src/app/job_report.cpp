#include "app/job_report.h"

#include "app/display_box.h"

namespace qz::app {

void JobReport::line(const std::string& text) const {
  if (window_) write_display(*window_, text);
  if (board_) board_->show_line(id_, text);
}

void JobReport::first_line(const std::string& text) const {
  if (window_) window_->set_text(kDisplayBox, text + "\r\n");
  if (board_) board_->show_line(id_, text);
}

void JobReport::open_line(const std::string& text) const {
  if (window_) window_->update_text(kDisplayBox, [&text](const std::string& shown) { return shown + text; });
  if (board_) board_->show_line(id_, text);
}

void JobReport::progress(const std::string& prefix, const std::string& text) const {
  if (window_) replace_progress_line(*window_, prefix, text);
  if (board_) board_->show_progress(id_, text);
}

void JobReport::set_state(JobState state) const {
  if (board_) board_->set_state(id_, state);
}

void JobReport::set_parts(std::vector<JobPart> parts) const {
  if (board_) board_->set_parts(id_, std::move(parts));
}

bool JobReport::end(JobEnding ending) const {
  return board_ && board_->end(id_, ending);
}

}  // namespace qz::app
