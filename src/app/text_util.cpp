#include "app/text_util.h"

namespace qz::app {

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    const auto hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

std::string ascii_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

bool starts_with_ignoring_ascii_case(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equals_ignoring_ascii_case(text.substr(0, prefix.size()), prefix);
}

bool contains_ignoring_ascii_case(std::string_view text, std::string_view part) {
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
    if (equals_ignoring_ascii_case(text.substr(i, part.size()), part)) return true;
  return false;
}

std::string_view gbk_prefix(std::string_view gbk, std::size_t max_bytes) {
  if (gbk.size() <= max_bytes) return gbk;
  std::size_t i = 0;
  while (i < max_bytes) {
    const auto c = static_cast<unsigned char>(gbk[i]);
    const std::size_t len = (c >= 0x81 && c <= 0xFE && i + 1 < gbk.size()) ? 2 : 1;
    if (i + len > max_bytes) break;
    i += len;
  }
  return gbk.substr(0, i);
}

}  // namespace qz::app
