#pragma once
// Places a shortcut to a program file on the user's desktop: a ".lnk" on Windows, a ".desktop"
// launcher on Linux, named and filled by the same rules. The update puts one there, named after
// the program's title, once a new program file has arrived.
#include <string>
#include <string_view>

namespace qz::app {

struct ShortcutRequest {
  std::string name;           // shortcut name, or a path whose file name (without extension) is used
  std::string target;         // full path of the program the shortcut starts
  std::string arguments;      // may be empty
  std::string icon_location;  // "file,index"; empty: derived from the target
  int window_style = 0;
  std::string description;
  std::string hotkey;
};

// The rules, with the separator of the paths they are given (the native one in use).
// A name holding a separator becomes its file-name part without the extension; empty when the
// path ends with a separator.
std::string shortcut_base_name(std::string_view name, char separator);
// `base` + `extension`, unless `base` already holds `extension` anywhere (compared without case).
std::string shortcut_file_name(std::string_view base, std::string_view extension);
// The extension of the path's file-name part, from its last ".", or empty.
std::string_view path_extension(std::string_view path, char separator);
// The target's folder with a trailing separator; empty when the target holds no separator (then no
// shortcut is made).
std::string shortcut_working_folder(std::string_view target, char separator);
// The Windows icon: the one asked for, else "<target>,0" for a target with an extension, else
// "SHELL32.dll,4".
std::string shortcut_icon_location(const ShortcutRequest& request, char separator);
// The launcher's icon: the file of the icon asked for (its ",index" cut off), else a generic
// program icon of the desktop's theme.
std::string launcher_icon(const ShortcutRequest& request);

// Deletes an existing shortcut of that name, then writes it anew. False when the target holds no
// separator (nothing is written, though an old shortcut of the name is already gone) or when the
// desktop's shortcut object could not be obtained (Windows) or the launcher not written (Linux).
bool create_desktop_shortcut(const ShortcutRequest& request);
// The same in a given folder instead of the desktop.
bool create_shortcut_in(const std::string& folder, const ShortcutRequest& request);

}  // namespace qz::app
