#include "record/tool_output.h"

#include <array>
#include <cctype>
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

// Beyond this many different lines a run's new lines are shown without being remembered: the
// memory of one run stays small whatever a tool writes.
constexpr std::size_t kRememberedLines = 256;

// ffmpeg's warnings name their source first ("[mp4 @ 0x55d1c2] …"), and ffmpeg folds an identical
// repeat itself ("    Last message repeated 3 times"). Its other lines (the streams it found, its
// progress) may look alike numbers aside, and each says something of its own.
bool is_warning(std::string_view line) {
  const std::size_t start = line.find_first_not_of(' ');
  if (start == std::string_view::npos) return false;
  line.remove_prefix(start);
  return line.rfind("[", 0) == 0 || line.rfind("Last message repeated", 0) == 0;
}

// The line with every run of digits (and hexadecimal addresses such as "0x55d1c2") as one "#".
std::string without_numbers(std::string_view line) {
  std::string out;
  for (std::size_t i = 0; i < line.size();) {
    const bool hex = line.compare(i, 2, "0x") == 0;
    if (hex || (line[i] >= '0' && line[i] <= '9')) {
      i += hex ? 2 : 0;
      while (i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i]))) ++i;
      out += '#';
    } else {
      out += line[i++];
    }
  }
  return out;
}

}  // namespace

std::string RepeatFolder::take_line(std::string_view line) {
  std::string_view text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (!is_warning(text)) return std::string(line);
  std::string key = without_numbers(text);
  if (const auto it = index_.find(key); it != index_.end()) {
    ++seen_[it->second].again;
    return {};
  }
  if (seen_.size() < kRememberedLines) {
    index_.emplace(std::move(key), seen_.size());
    seen_.push_back({std::string(text), 0});
  }
  return std::string(line);
}

std::string RepeatFolder::fold(std::string_view text) {
  held_.append(text);
  std::string out;
  std::size_t start = 0;
  for (std::size_t end; (end = held_.find_first_of("\r\n", start)) != std::string::npos; start = end + 1)
    out += take_line(std::string_view(held_).substr(start, end + 1 - start));
  held_.erase(0, start);
  return out;
}

std::string RepeatFolder::flush() {
  std::string out = std::move(held_);
  held_.clear();
  if (!out.empty()) out = take_line(out);
  if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += '\n';
  for (const Repeated& r : seen_)
    if (r.again > 0) out += r.line + "（此行又出现 " + std::to_string(r.again) + " 次）\n";
  return out;
}

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
