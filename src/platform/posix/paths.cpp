#include "platform/paths.h"

#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/fs.h"

namespace qz::platform {
namespace {

std::string home_folder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

// Reads XDG_<NAME>_DIR from the user's user-dirs.dirs ("$HOME/..." expanded).
std::string xdg_user_dir(const std::string& key) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const std::string file =
      (config && *config ? std::string(config) : home_folder() + "/.config") + "/user-dirs.dirs";
  std::ifstream in(file);
  std::string line;
  const std::string prefix = "XDG_" + key + "_DIR=";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) != 0) continue;
    std::string value = line.substr(prefix.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = home_folder() + value.substr(5);
    return value;
  }
  return {};
}

std::string user_folder(const std::string& key, const std::string& fallback_name) {
  const std::string xdg = xdg_user_dir(key);
  if (!xdg.empty() && is_directory(xdg)) return xdg;
  const std::string fallback = home_folder() + "/" + fallback_name;
  if (is_directory(fallback)) return fallback;
  return home_folder();
}

}  // namespace

std::string program_folder() {
  char buffer[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string documents_folder() { return user_folder("DOCUMENTS", "Documents"); }
std::string desktop_folder() { return user_folder("DESKTOP", "Desktop"); }

std::string absolute_path(const std::string& path) {
  if (is_absolute_path(path)) return path;
  std::string current(PATH_MAX, '\0');
  if (!::getcwd(current.data(), current.size())) return {};
  current.resize(std::char_traits<char>::length(current.c_str()));
  std::string_view relative = path;
  while (relative.size() >= 2 && relative[0] == '.' && relative[1] == '/') relative.remove_prefix(2);
  if (relative.empty() || relative == ".") return current;
  return join_path(current, relative);
}

}  // namespace qz::platform
