#pragma once
// A room's recordings go into a folder named after the room. Names come from the platform's
// pages and from users, so anything may be in them; the folder name must still be one that
// Windows accepts as a single file name, and stay short enough for the paths under it.
#include <cstddef>
#include <string>
#include <string_view>

namespace qz::watch {

inline constexpr std::size_t kMaxFolderCharacters = 80;

// `name` (UTF-8) made safe as a Windows file name: each of \ / : * ? " < > | becomes "_", control
// characters and bytes that are no UTF-8 go, blanks at either end and dots at the end go, a
// reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension) gets
// "_" after it, and the name is cut to `max_characters` characters without splitting a character
// or an emoji sequence. Empty when nothing usable is left.
std::string folder_name_for(std::string_view name, std::size_t max_characters = kMaxFolderCharacters);

// True when `name` is a reserved device name as Windows sees it: the part before the first dot,
// trailing blanks aside, compared without regard to case.
bool is_reserved_device_name(std::string_view name);

}  // namespace qz::watch
