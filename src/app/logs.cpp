#include "app/logs.h"

#include <cstdio>
#include <mutex>
#include <vector>

#include "app/text_util.h"
#include "platform/fs.h"
#include "platform/text_codec.h"

namespace qz::app {
namespace {

std::string two_digits(int v) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", v);
  return buffer;
}

std::string date_text(const platform::LocalTime& t) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%d年%d月%d日", t.year, t.month, t.day);
  return buffer;
}

// Moves the whole content back by `line.size()` bytes, from the end towards the front in blocks
// of at most 4 KiB, then writes `line` at the front.
bool insert_at_front(platform::File& file, const std::string& line) {
  const auto size = file.size();
  if (!size) return false;
  constexpr std::uint64_t kBlock = 4096;
  std::vector<char> block(kBlock);
  std::uint64_t end = *size;
  while (end > 0) {
    const std::uint64_t n = end < kBlock ? end : kBlock;
    const std::uint64_t from = end - n;
    if (!file.read_at(from, block.data(), n)) return false;
    if (!file.write_at(from + line.size(), block.data(), n)) return false;
    end = from;
  }
  return file.write_at(0, line.data(), line.size());
}

// Two threads writing the run log at once would interleave their block moves.
std::mutex& run_log_mutex() {
  static std::mutex m;
  return m;
}

}  // namespace

std::string format_timestamp(const platform::LocalTime& t, std::string_view pattern) {
  if (pattern.empty()) pattern = "yyyy-MM-dd HH:mm:ss";
  char year[16];
  std::snprintf(year, sizeof year, "%04d", t.year);
  std::string out = replace_all(pattern, "yyyy", year);
  out = replace_all(out, "MM", two_digits(t.month));
  out = replace_all(out, "dd", two_digits(t.day));
  out = replace_all(out, "HH", two_digits(t.hour));
  out = replace_all(out, "mm", two_digits(t.minute));
  return replace_all(out, "ss", two_digits(t.second));
}

std::string run_log_time_text(const platform::LocalTime& t) {
  char buffer[64] = "";
  if (t.second != 0)
    std::snprintf(buffer, sizeof buffer, "%d时%d分%d秒", t.hour, t.minute, t.second);
  else if (t.minute != 0)
    std::snprintf(buffer, sizeof buffer, "%d时%d分", t.hour, t.minute);
  else if (t.hour != 0)
    std::snprintf(buffer, sizeof buffer, "%d时", t.hour);
  return date_text(t) + buffer;
}

std::string run_log_path(const std::string& program_folder, const platform::LocalTime& t) {
  return platform::join_path(platform::join_path(program_folder, "data"),
                             "运行日志" + date_text(t) + ".txt");
}

void append_error_log(const std::string& program_folder, std::string_view entry) {
  const std::string folder = platform::join_path(program_folder, "logs");
  if (!platform::is_directory(folder)) platform::make_directories(folder);
  const std::string path = platform::join_path(folder, "error.log");
  const std::string bytes = platform::utf8_to_gbk(entry);
  platform::File file;
  if (!file.open(path, platform::File::Mode::ReadWriteCreate)) return;
  file.append(bytes.data(), bytes.size());
}

void write_run_log(const std::string& program_folder, std::string_view message,
                   const platform::LocalTime& now) {
  const std::string path = run_log_path(program_folder, now);
  const std::string line =
      platform::utf8_to_gbk(run_log_time_text(now) + "   " + std::string(message) + "\r\n");
  std::lock_guard lock(run_log_mutex());
  platform::File file;
  if (!file.open(path, platform::File::Mode::ReadWriteCreate)) return;
  insert_at_front(file, line);
}

std::string no_admin_error_entry(const platform::LocalTime& now) {
  return "运行时间：" + format_timestamp(now) + "\r\n" +
         "程序未以管理员权限运行，可能会导致部分功能失效，请留意.";
}

}  // namespace qz::app
