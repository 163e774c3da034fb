#include "platform/system.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>

namespace qz::platform {

LocalTime local_time_now() {
  const std::time_t now = std::time(nullptr);
  std::tm tm {};
  localtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::optional<std::string> get_env(const std::string& name) {
  if (const char* value = std::getenv(name.c_str())) return std::string(value);
  return std::nullopt;
}

bool running_as_admin() { return ::geteuid() == 0; }

void exit_process_now(int code) { ::_exit(code); }

}  // namespace qz::platform
