#include "app/display_box.h"

#include "platform/text_codec.h"

namespace qz::app {
namespace {

// Whether `text` (UTF-8) takes more than `limit` bytes in GBK. Each non-ASCII character takes
// one ("?" when GBK lacks it) or two GBK bytes, so the exact conversion is needed only when the
// two bounds fall on either side of the limit: a status line is written twice a second.
bool gbk_longer_than(const std::string& text, std::size_t limit) {
  std::size_t ascii = 0, other = 0;
  for (unsigned char c : text) {
    if (c < 0x80)
      ++ascii;
    else if ((c & 0xC0) != 0x80)
      ++other;
  }
  if (ascii + 2 * other <= limit) return false;
  if (ascii + other > limit) return true;
  return platform::utf8_to_gbk(text).size() > limit;
}

}  // namespace

void write_display(WindowModel& window, const std::string& line) {
  window.update_text(kDisplayBox, [&line](const std::string& current) {
    std::string text = gbk_longer_than(current, kDisplayLimit) ? std::string() : current;
    text += line;
    text += "\r\n";
    return text;
  });
}

void replace_progress_line(WindowModel& window, const std::string& prefix, const std::string& line) {
  window.update_text(kDisplayBox, [&](const std::string& current) {
    std::string text = current;
    std::size_t at = text.rfind(prefix);
    while (at != std::string::npos && at != 0 && text[at - 1] != '\n') at = text.rfind(prefix, at - 1);
    if (at != std::string::npos) {
      const std::size_t end = text.find("\r\n", at);
      text.erase(at, end == std::string::npos ? std::string::npos : end + 2 - at);
    }
    if (gbk_longer_than(text, kDisplayLimit)) text.clear();
    return text + line + "\r\n";
  });
}

}  // namespace qz::app
