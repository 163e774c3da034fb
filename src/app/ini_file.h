#pragma once
// INI text in the form the Windows private-profile functions read and write: "[section]" lines,
// "key=value" lines, CR LF. Sections and keys match without regard to ASCII case; a value read is
// trimmed of surrounding blanks and of one pair of surrounding double quotes. Works on bytes, so
// it serves both the GBK settings files and the UTF-8 configuration file.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::app {

// The value of `key` in `section`, or nothing when the key is absent.
std::optional<std::string> ini_get(std::string_view ini, std::string_view section,
                                   std::string_view key);

// The INI text with `key` in `section` set to `value`: an existing key's line is replaced in
// place, a new key goes after the section's last entry, a new section goes at the end.
std::string ini_set(std::string_view ini, std::string_view section, std::string_view key,
                    std::string_view value);

// A whole INI text read at once, for files that hold many sections of the same shape. Lines are
// numbered from 1; blank lines and lines starting with ';' or '#' are comments.
struct IniEntry {
  std::string key, value;  // as ini_get reads them
  std::size_t line = 0;
};
struct IniSection {
  std::string name;
  std::size_t line = 0;
  std::vector<IniEntry> entries;
};
struct IniText {
  std::vector<IniSection> sections;
  // Lines that are neither a section, an entry nor a comment, and entries before any section.
  std::vector<std::size_t> unreadable_lines;
};
IniText ini_read_all(std::string_view ini);

}  // namespace qz::app
