#pragma once
// UTF-8 <-> UTF-16 at the Windows API boundary. Only platform/win32 and ui/win32 include this.
#include <string>
#include <string_view>

namespace qz::platform {

std::wstring to_wide(std::string_view utf8);
std::string from_wide(std::wstring_view wide);

}  // namespace qz::platform
