#pragma once
#include <string>

namespace qz::platform {

// Lets a downloaded program file be started: the executable bits on Linux (a download arrives
// without them); nothing to do on Windows. True when the file can be started afterwards.
bool make_executable(const std::string& path);

}  // namespace qz::platform
