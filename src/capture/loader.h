#pragma once
// Makes the automation component usable before the main window exists: hands it the program
// folder and a log callback, refuses a component of another version, and notes missing
// administrator rights in the error log. Nothing closed is carried, so no library file is
// written out.
#include <string_view>

#include "app/context.h"
#include "capture/automation.h"

namespace qz::capture {

inline constexpr std::string_view kRequiredComponentVersion = "5.5.32";

// False when the component reports another version: the mismatch box (it closes by itself after
// 6 s) has been shown and the caller must end the process at once. `is_admin` false appends the
// no-administrator entry to the error log.
bool load_automation(app::Context& ctx, Automation& component, bool is_admin,
                     std::string_view required_version = kRequiredComponentVersion);

}  // namespace qz::capture
