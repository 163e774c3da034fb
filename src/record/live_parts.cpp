#include "record/live_parts.h"

#include <cmath>
#include <cstdio>

#include "platform/fs.h"

namespace qz::record {

std::string part_file(const std::string& base, int part) {
  return part <= 1 ? base + ".mp4" : base + "_" + std::to_string(part) + ".mp4";
}

int next_free_part(const std::string& base, int after) {
  int part = std::max(after + 1, 2);
  while (platform::file_exists(part_file(base, part))) ++part;
  return part;
}

std::string clock_text(const platform::LocalTime& t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return text;
}

std::string duration_text(double seconds) {
  const long total = std::lround(std::max(seconds, 0.0));
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

std::string dropped_text(const platform::LocalTime& when) {
  return "直播中断（" + clock_text(when) + "），正在重新连接……";
}

std::string stalled_text(int seconds, const platform::LocalTime& since) {
  return "已有 " + std::to_string(seconds) + " 秒没有收到直播数据（" + clock_text(since) + "），正在重新连接……";
}

std::string reconnected_text(double gap_seconds, const std::string& file) {
  return "已重新连接（中断 " + std::to_string(std::lround(std::max(gap_seconds, 0.0))) + " 秒），继续保存到：" + file;
}

std::string gave_up_text(int seconds) {
  return "重新连接 " + std::to_string(seconds) + " 秒仍未成功，录制结束";
}

std::string parts_text(const std::vector<RecordedPart>& parts) {
  std::string text = "共 " + std::to_string(parts.size()) + " 段：";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += "、";
    const auto slash = parts[i].file.find_last_of("/\\");
    text += (slash == std::string::npos ? parts[i].file : parts[i].file.substr(slash + 1)) + "（" +
            duration_text(parts[i].seconds) + "）";
  }
  return text;
}

double reported_time(const std::string& line) {
  const auto at = line.rfind("time=");
  if (at == std::string::npos) return -1;
  int h = 0, m = 0;
  double s = 0;
  if (std::sscanf(line.c_str() + at + 5, "%d:%d:%lf", &h, &m, &s) != 3) return -1;
  return h * 3600.0 + m * 60.0 + s;
}

}  // namespace qz::record
