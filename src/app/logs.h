#pragma once
// Two plain-text GBK logs under the program folder: logs/error.log (entries appended raw, nothing
// between them) and the daily run log data/运行日志<date>.txt (newest line first).
#include <string>
#include <string_view>

#include "platform/system.h"

namespace qz::app {

// Replaces yyyy, MM, dd, HH, mm, ss in that order; an empty pattern means "yyyy-MM-dd HH:mm:ss".
std::string format_timestamp(const platform::LocalTime& t, std::string_view pattern = {});

// "2024年3月5日9时0分30秒": the time part keeps only as much as its non-zero fields need.
std::string run_log_time_text(const platform::LocalTime& t);
std::string run_log_path(const std::string& program_folder, const platform::LocalTime& t);

// Failures lose the entry silently.
void append_error_log(const std::string& program_folder, std::string_view entry);
void write_run_log(const std::string& program_folder, std::string_view message,
                   const platform::LocalTime& now = platform::local_time_now());

// The entry written at each start without administrator rights.
std::string no_admin_error_entry(const platform::LocalTime& now);

}  // namespace qz::app
