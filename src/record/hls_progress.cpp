#include "record/hls_progress.h"

#include <cmath>
#include <cstdio>

namespace qz::record {

std::string replay_percent_text(std::size_t done, std::size_t total) {
  const double percent = total == 0 ? 0 : static_cast<double>(done) * 100 / static_cast<double>(total);
  char text[32];
  // Rounded down, so 100.0% means every segment is in.
  std::snprintf(text, sizeof text, "%.1f%%", std::floor(percent * 10) / 10);
  return text;
}

std::string byte_size_text(double bytes) {
  char text[32];
  if (bytes >= 1024.0 * 1024 * 1024)
    std::snprintf(text, sizeof text, "%.2f GB", bytes / (1024.0 * 1024 * 1024));
  else if (bytes >= 1024.0 * 1024)
    std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024));
  else if (bytes >= 1024)
    std::snprintf(text, sizeof text, "%.0f KB", bytes / 1024);
  else
    std::snprintf(text, sizeof text, "%.0f B", bytes < 0 ? 0 : bytes);
  return text;
}

std::string time_left_text(double seconds) {
  const long long s = std::llround(std::max(seconds, 0.0));
  char text[48];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lld 小时 %02lld 分", s / 3600, s % 3600 / 60);
  else if (s >= 60)
    std::snprintf(text, sizeof text, "%lld 分 %lld 秒", s / 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%lld 秒", s);
  return text;
}

std::string clock_text(double seconds) {
  const long long s = static_cast<long long>(std::floor(std::max(seconds, 0.0)));
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", s / 3600, s % 3600 / 60, s % 60);
  return text;
}

namespace {

// Whole seconds that cover the range; sums of durations carry small errors either way.
std::string range_text(double start, double end) {
  return clock_text(std::floor(start + 0.001)) + "–" + clock_text(std::ceil(end - 0.001));
}

}  // namespace

std::string gap_text(double start, double end, std::size_t index) {
  return "缺少 " + range_text(start, end) + "（第 " + std::to_string(index) + " 段）";
}

std::string declared_gap_text(double start, double end, std::size_t first, std::size_t last) {
  const std::string segments = first == last ? std::to_string(first) : std::to_string(first) + "–" + std::to_string(last);
  return "回放列表声明的空白：" + range_text(start, end) + "（第 " + segments + " 段）";
}

std::string replay_progress_text(const ReplayProgress& p) {
  std::string text = std::string(kReplayProgressPrefix) + "已完成 " + std::to_string(p.done) + "/" +
                     std::to_string(p.total) + " 段（" + replay_percent_text(p.done, p.total) + "），" +
                     byte_size_text(static_cast<double>(p.bytes)) + "，" + byte_size_text(p.bytes_per_second) + "/s";
  if (p.done >= p.total) return text;
  text += p.seconds_left < 0 ? std::string("，剩余时间估算中") : "，剩余约 " + time_left_text(p.seconds_left);
  return text;
}

}  // namespace qz::record
