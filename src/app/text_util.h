#pragma once
#include <string>
#include <string_view>

namespace qz::app {

// Replaces every occurrence of `from`, left to right, case-sensitively.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

// ASCII letters only change case; every other byte (a GBK or UTF-8 lead byte too) stays as it is,
// whatever the locale.
char ascii_lower(char c);
std::string ascii_lower(std::string_view text);
std::string ascii_upper(std::string_view text);
bool equals_ignoring_ascii_case(std::string_view a, std::string_view b);
bool starts_with_ignoring_ascii_case(std::string_view text, std::string_view prefix);
bool contains_ignoring_ascii_case(std::string_view text, std::string_view part);

// The longest prefix of GBK bytes no longer than `max_bytes` that does not split a character.
std::string_view gbk_prefix(std::string_view gbk, std::size_t max_bytes);

}  // namespace qz::app
