#pragma once
// Text inside the program is UTF-8. GBK (code page 936) appears only in the formats the program
// stores or exchanges as GBK: settings files, logs, the disclaimer marker, play.bat, tool output.
#include <optional>
#include <string>
#include <string_view>

namespace qz::platform {

// Unconvertible characters become '?', so a conversion never fails outright.
std::string utf8_to_gbk(std::string_view utf8);
// Invalid GBK sequences become U+FFFD.
std::string gbk_to_utf8(std::string_view gbk);

// Decodes bytes in a named charset ("utf-8", "gb2312", "big5", ...) to UTF-8;
// nothing when the charset is unknown to the system.
std::optional<std::string> charset_to_utf8(std::string_view bytes, std::string_view charset);

// Pure helpers, the same on every system.
bool is_valid_utf8(std::string_view bytes);
// Length of the longest prefix of `bytes` that ends on a whole UTF-8 character
// (an incomplete sequence at the end is left for the next chunk).
std::size_t utf8_complete_prefix(std::string_view bytes);

}  // namespace qz::platform
