#include "platform/text_codec.h"

namespace qz::platform {
namespace {

// Length of the UTF-8 sequence starting at `lead`, or 0 when `lead` cannot start one.
std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool valid_continuation(std::string_view s, std::size_t i, std::size_t len) {
  const auto lead = static_cast<unsigned char>(s[i]);
  for (std::size_t k = 1; k < len; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return false;
    if (k == 1) {  // overlong forms, surrogates and code points past U+10FFFF
      if (lead == 0xE0 && c < 0xA0) return false;
      if (lead == 0xED && c > 0x9F) return false;
      if (lead == 0xF0 && c < 0x90) return false;
      if (lead == 0xF4 && c > 0x8F) return false;
    }
  }
  return true;
}

}  // namespace

bool is_valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t len = sequence_length(static_cast<unsigned char>(s[i]));
    if (len == 0 || i + len > s.size() || !valid_continuation(s, i, len)) return false;
    i += len;
  }
  return true;
}

std::size_t utf8_complete_prefix(std::string_view s) {
  // Only the last three bytes can belong to an unfinished character.
  const std::size_t start = s.size() > 3 ? s.size() - 3 : 0;
  for (std::size_t i = s.size(); i > start; --i) {
    const auto c = static_cast<unsigned char>(s[i - 1]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte: keep looking for the lead
    const std::size_t len = sequence_length(c);
    if (len > 1 && (i - 1) + len > s.size()) return i - 1;
    break;
  }
  return s.size();
}

}  // namespace qz::platform
