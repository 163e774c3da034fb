#include "app/ini_file.h"

#include <vector>

#include "app/text_util.h"

namespace qz::app {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// "[name]" → name; anything else → nothing.
std::optional<std::string_view> section_name(std::string_view line) {
  line = trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return trim(line.substr(1, close - 1));
}

struct Entry {
  std::string_view key, value;
};

std::optional<Entry> entry_of(std::string_view line) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return Entry{trim(line.substr(0, eq)), trim(line.substr(eq + 1))};
}

std::string unquote(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return std::string(value);
}

}  // namespace

std::optional<std::string> ini_get(std::string_view ini, std::string_view section,
                                   std::string_view key) {
  bool in_section = false;
  for (std::string_view line : split_lines(ini)) {
    if (const auto name = section_name(line)) {
      in_section = equals_ignoring_ascii_case(*name, section);
      continue;
    }
    if (!in_section) continue;
    const auto entry = entry_of(line);
    if (entry && equals_ignoring_ascii_case(entry->key, key)) return unquote(entry->value);
  }
  return std::nullopt;
}

std::string ini_set(std::string_view ini, std::string_view section, std::string_view key,
                    std::string_view value) {
  std::vector<std::string> lines;
  for (std::string_view line : split_lines(ini)) lines.emplace_back(line);
  const std::string new_line = std::string(key) + "=" + std::string(value);

  bool in_section = false;
  std::optional<std::size_t> insert_at;  // after the section's last non-blank line
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (const auto name = section_name(lines[i])) {
      if (in_section) break;
      in_section = equals_ignoring_ascii_case(*name, section);
      if (in_section) insert_at = i + 1;
      continue;
    }
    if (!in_section) continue;
    const auto entry = entry_of(lines[i]);
    if (entry && equals_ignoring_ascii_case(entry->key, key)) {
      lines[i] = new_line;
      insert_at.reset();
      break;
    }
    if (!trim(lines[i]).empty()) insert_at = i + 1;
  }
  if (insert_at) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*insert_at), new_line);
  } else if (!in_section) {
    lines.push_back("[" + std::string(section) + "]");
    lines.push_back(new_line);
  }
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

IniText ini_read_all(std::string_view ini) {
  IniText out;
  std::size_t number = 0;
  for (std::string_view line : split_lines(ini)) {
    ++number;
    const std::string_view bare = trim(line);
    if (bare.empty() || bare.front() == ';' || bare.front() == '#') continue;
    if (const auto name = section_name(line)) {
      out.sections.push_back(IniSection{std::string(*name), number, {}});
      continue;
    }
    const auto entry = entry_of(line);
    if (!entry || entry->key.empty() || out.sections.empty()) {
      out.unreadable_lines.push_back(number);
      continue;
    }
    out.sections.back().entries.push_back(IniEntry{std::string(entry->key), unquote(entry->value), number});
  }
  return out;
}

}  // namespace qz::app
