#pragma once
// The texts and file names of a live recording that goes on through drops: each continuation
// after a drop is a part of its own beside the first file, and every gap is named.
#include <string>
#include <vector>

#include "platform/system.h"

namespace qz::record {

// Part 1 is "<base>.mp4" (zhibo_1.mp4); part k >= 2 is "<base>_<k>.mp4" (zhibo_1_2.mp4).
std::string part_file(const std::string& base, int part);
// The first part number from `after` + 1 on whose file does not exist: a part never overwrites.
int next_free_part(const std::string& base, int after);

struct RecordedPart {
  std::string file;
  double seconds = 0;  // as far as the tool reported
};

// "12:03:05"
std::string clock_text(const platform::LocalTime& t);
// "1:02:03" for an hour or more, else "2:03".
std::string duration_text(double seconds);

// "直播中断（12:03:05），正在重新连接……"
std::string dropped_text(const platform::LocalTime& when);
// "已有 30 秒没有收到直播数据（12:03:05），正在重新连接……"
std::string stalled_text(int seconds, const platform::LocalTime& since);
// "已重新连接（中断 3 秒），继续保存到：<file>"
std::string reconnected_text(double gap_seconds, const std::string& file);
// "重新连接 180 秒仍未成功，录制结束"
std::string gave_up_text(int seconds);
// "共 2 段：zhibo_1.mp4（0:12）、zhibo_1_2.mp4（1:02:03）" (file names without their folder)
std::string parts_text(const std::vector<RecordedPart>& parts);

// The last "time=HH:MM:SS.xx" of ffmpeg's progress in `line`, in seconds; negative when none.
double reported_time(const std::string& line);

}  // namespace qz::record
