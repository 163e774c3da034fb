#pragma once
#include <string>
#include <string_view>

namespace qz::app {

// Replaces every occurrence of `from`, left to right, case-sensitively.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

// The longest prefix of GBK bytes no longer than `max_bytes` that does not split a character.
std::string_view gbk_prefix(std::string_view gbk, std::size_t max_bytes);

}  // namespace qz::app
