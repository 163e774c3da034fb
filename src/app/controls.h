#pragma once
// The main window's controls as data: every back end draws this table and nothing else.
#include <span>
#include <string_view>

#include "app/control_names.h"

namespace qz::app {

enum class ControlKind { Label, TransparentLabel, Edit, Button, Hyperlink, StatusBar, Picture };

enum ControlStyle : unsigned {
  kPlain = 0,
  kReadOnly = 1u << 0,     // selectable and copyable, not typed into
  kMultiLine = 1u << 1,
  kWhiteOnBlack = 1u << 2,
  kCentred = 1u << 3,
  kHidden = 1u << 4,       // not shown until the program shows it
};

struct ControlSpec {
  std::string_view name;
  ControlKind kind;
  int x, y, width, height;  // client coordinates; the status bar docks at the bottom instead
  std::string_view text;    // initial text or caption; "\r\n" breaks label lines
  unsigned style;
};

// In the order of the layout table.
std::span<const ControlSpec> main_window_controls();
const ControlSpec* find_control(std::string_view name);

// The edit boxes in the window's control order: the order in which settings are saved and loaded.
std::span<const std::string_view> edit_boxes_in_control_order();

inline constexpr int kStatusBarParts = 2;

}  // namespace qz::app
