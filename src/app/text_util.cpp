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
