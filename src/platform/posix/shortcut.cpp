#include "platform/shortcut.h"

#include <sys/stat.h>

#include "platform/fs.h"

namespace qz::platform {
namespace {

// String values of a desktop entry escape these characters.
std::string escape_value(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

// Exec takes the program as one quoted argument; inside the quotes '"', '`', '$' and '\' are
// escaped, and '%' is doubled so it is not read as a field code.
std::string quote_exec_argument(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

std::string percent_doubled(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%') out += '%';
    out += c;
  }
  return out;
}

}  // namespace

bool write_shortcut(const ShortcutFile& shortcut) {
  std::string exec = quote_exec_argument(shortcut.target);
  if (!shortcut.arguments.empty()) exec += " " + percent_doubled(shortcut.arguments);
  std::string entry = "[Desktop Entry]\nType=Application\nVersion=1.0\n";
  entry += "Name=" + escape_value(shortcut.name) + "\n";
  entry += "Exec=" + escape_value(exec) + "\n";
  entry += "Path=" + escape_value(shortcut.working_folder) + "\n";
  if (!shortcut.icon_location.empty()) entry += "Icon=" + escape_value(shortcut.icon_location) + "\n";
  if (!shortcut.description.empty()) entry += "Comment=" + escape_value(shortcut.description) + "\n";
  entry += "Terminal=false\n";
  if (!write_file_atomically(shortcut.path, entry)) return false;
  return ::chmod(shortcut.path.c_str(), 0755) == 0;
}

}  // namespace qz::platform
