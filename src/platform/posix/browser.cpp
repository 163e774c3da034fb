#include "platform/browser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/fs.h"
#include "platform/system.h"

namespace qz::platform {

namespace {

bool is_executable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string on_path(const std::string& name) {
  const std::string path = get_env("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string dir = path.substr(start, end - start);
    if (!dir.empty()) {
      const std::string candidate = join_path(dir, name);
      if (is_executable(candidate)) return candidate;
    }
    start = end + 1;
  }
  return {};
}

}  // namespace

std::string find_browser() {
  for (const char* name : {"chromium", "chromium-browser", "google-chrome", "google-chrome-stable",
                           "microsoft-edge"}) {
    std::string found = on_path(name);
    if (!found.empty()) return found;
  }
  return {};
}

std::vector<std::string> default_browser_profiles() {
  std::string config = get_env("XDG_CONFIG_HOME").value_or("");
  if (config.empty()) {
    const std::string home = get_env("HOME").value_or("");
    if (home.empty()) return {};
    config = join_path(home, ".config");
  }
  std::vector<std::string> folders;
  for (const char* name : {"chromium", "google-chrome", "google-chrome-beta", "microsoft-edge"})
    folders.push_back(join_path(config, name));
  return folders;
}

bool make_private_directory(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !make_directories(path.substr(0, slash))) return false;
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  // Whatever is there now must be a folder of ours, not a link planted to point elsewhere.
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
  if (ok && (st.st_mode & 07777) != 0700) ok = ::fchmod(fd, 0700) == 0;
  ::close(fd);
  return ok;
}

bool is_executable_program(const std::string& path) { return is_executable(path); }

bool has_display() {
  return !get_env("DISPLAY").value_or("").empty() || !get_env("WAYLAND_DISPLAY").value_or("").empty();
}

void start_working_set_trimmer() {}

}  // namespace qz::platform
