#include "platform/executable.h"

#include <sys/stat.h>

namespace qz::platform {

bool make_executable(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Execute for whoever may read it.
  const mode_t mode = st.st_mode | ((st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2);
  return ::chmod(path.c_str(), mode) == 0;
}

}  // namespace qz::platform
