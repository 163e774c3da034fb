#pragma once
// The texts a parallel replay download shows: its progress line, the gaps it could not fill or
// that its playlist declares, and how much a stopped download kept.
#include <cstdint>
#include <string>

namespace qz::record {

// Every progress line starts with this, so the next one can replace it.
inline constexpr const char* kReplayProgressPrefix = "回放下载：";
// A replay of which not one segment arrived.
inline constexpr const char* kNothingReceived = "回放下载失败：没有收到任何分段";

struct ReplayProgress {
  std::size_t done = 0;   // segments on disk
  std::size_t total = 0;  // segments in the playlist
  std::uint64_t bytes = 0;
  double bytes_per_second = 0;
  double seconds_left = -1;  // negative: not known yet
};

// "回放下载：已完成 812/2400 段（33.8%），1.21 GB，14.2 MB/s，剩余约 3 分 12 秒"
std::string replay_progress_text(const ReplayProgress& progress);
// "33.8%"
std::string replay_percent_text(std::size_t done, std::size_t total);
// "1.21 GB", "14.2 MB", "512 KB", "37 B"
std::string byte_size_text(double bytes);
// "3 分 12 秒", "12 秒", "1 小时 03 分"
std::string time_left_text(double seconds);
// "00:41:10"
std::string clock_text(double seconds);
// "缺少 00:41:10–00:41:14（第 1235 段）", the segment counted from 1.
std::string gap_text(double start, double end, std::size_t index);
// "回放列表声明的空白：00:00:18–00:00:20（第 10 段）", or "（第 10–12 段）" for a run of them.
std::string declared_gap_text(double start, double end, std::size_t first, std::size_t last);

}  // namespace qz::record
