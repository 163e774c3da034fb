#pragma once
// The display box "编辑框_显示": the window's status channel. Every line any part adds goes
// through here, so the box keeps one rule: it is emptied before a line is added once it holds
// more than kDisplayLimit GBK bytes, and never grows much beyond that.
#include <cstddef>
#include <string>

#include "app/window_model.h"

namespace qz::app {

inline constexpr std::size_t kDisplayLimit = 2000;

// Appends `line` and CR LF to the display box; the length test, the clearing and the append are
// one step for every other writer (the window model's lock is the display lock).
void write_display(WindowModel& window, const std::string& line);

// Like write_display, but a line that stands for a state (a progress line) replaces the last
// line starting with `prefix` instead of adding to the box: the old one is taken out, the new one
// goes at the end.
void replace_progress_line(WindowModel& window, const std::string& prefix, const std::string& line);

}  // namespace qz::app
