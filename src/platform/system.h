#pragma once
#include <optional>
#include <string>

namespace qz::platform {

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime local_time_now();

std::optional<std::string> get_env(const std::string& name);

// Windows: the process token is an administrator's; Linux: effective user id 0.
bool running_as_admin();

// Ends the process at once, running no destructors and waiting for no thread.
[[noreturn]] void exit_process_now(int code);

}  // namespace qz::platform
