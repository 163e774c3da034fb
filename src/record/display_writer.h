#pragma once
// The status channel of the recording jobs: lines appended to the display box "编辑框_显示".
#include <string>

#include "app/window_model.h"

namespace qz::record {

using app::kDisplayBox;
// The box is emptied before a line is added once it holds more than this many GBK bytes, so it
// never grows much beyond it.
inline constexpr std::size_t kDisplayLimit = 2000;

// Appends `line` and CR LF to the display box; the length test, the clearing and the append are
// one step for every other writer (the window model's lock is the display lock).
void write_display(app::WindowModel& window, const std::string& line);

// Like write_display, but a line that stands for a state (a progress line) replaces the last
// line starting with `prefix` instead of adding to the box: the old one is taken out, the new one
// goes at the end.
void replace_display_line(app::WindowModel& window, const std::string& prefix, const std::string& line);

}  // namespace qz::record
