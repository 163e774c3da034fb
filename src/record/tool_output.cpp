#include "record/tool_output.h"

#include <array>
#include <utility>

#include "app/text_util.h"
#include "platform/text_codec.h"

namespace qz::record {
namespace {

// Where a GBK text may be cut so that no double-byte character is split: a lead byte
// (0x81..0xFE) at the very end waits for its second byte.
std::size_t gbk_complete_prefix(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x81 || c == 0xFF) {
      ++i;
    } else if (i + 1 < s.size()) {
      i += 2;
    } else {
      return i;
    }
  }
  return s.size();
}

}  // namespace

std::string OutputDecoder::decode(std::string_view bytes) {
  std::string data = std::move(carry_);
  carry_.clear();
  data.append(bytes);
  if (!gbk_) {
    if (platform::is_valid_utf8(data)) return data;
    const std::size_t utf8_end = platform::utf8_complete_prefix(data);
    if (utf8_end < data.size() && platform::is_valid_utf8(std::string_view(data).substr(0, utf8_end))) {
      carry_ = data.substr(utf8_end);
      data.resize(utf8_end);
      return data;
    }
    gbk_ = true;
  }
  const std::size_t gbk_end = gbk_complete_prefix(data);
  carry_ = data.substr(gbk_end);
  data.resize(gbk_end);
  return platform::gbk_to_utf8(data);
}

std::string OutputDecoder::flush() {
  std::string rest = std::move(carry_);
  carry_.clear();
  return !gbk_ && platform::is_valid_utf8(rest) ? rest : platform::gbk_to_utf8(rest);
}

std::string chunk_status_line(std::string_view chunk) {
  std::string text(chunk.substr(0, chunk.find('\0')));
  text = app::replace_all(text, "\n", "\r\n");
  text = app::replace_all(text, " \r", " ");
  if (text.empty()) return {};
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kMarkers{{
      {"muxing overhead:", kToolDoneLine},
      {"Input/output error", "输入/输出 错误"},
      {"Conversion failed", "转换失败"},
      {"No such file or directory", "输入/输出 的 文件/路径 不存在"},
  }};
  for (const auto& [marker, line] : kMarkers)
    if (text.find(marker) != std::string::npos) return std::string(line);
  return text;
}

bool tells_of_refused_write(std::string_view text) {
  for (std::string_view refusal : {"No space left on device", "Permission denied", "Read-only file system"})
    if (text.find(refusal) != std::string_view::npos) return true;
  return false;
}

}  // namespace qz::record
