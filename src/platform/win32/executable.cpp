#include "platform/executable.h"

#include "platform/fs.h"

namespace qz::platform {

bool make_executable(const std::string& path) { return file_exists(path) && !is_directory(path); }

}  // namespace qz::platform
