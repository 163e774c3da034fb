#pragma once
// A shortcut file that starts a program: a ".lnk" written through the Windows Script Host shell
// object on Windows, a ".desktop" launcher on Linux. The rules for its name and fields live in
// app/desktop_shortcut.h; this service only writes the file.
#include <string>

namespace qz::platform {

#ifdef _WIN32
inline constexpr const char* kShortcutExtension = ".lnk";
#else
inline constexpr const char* kShortcutExtension = ".desktop";
#endif

struct ShortcutFile {
  std::string path;            // the shortcut file to write
  std::string name;            // shown name (the launcher's Name; Windows takes it from the path)
  std::string target;          // program started
  std::string working_folder;  // folder it starts in
  std::string arguments;       // command-line arguments, may be empty
  std::string icon_location;   // Windows: "file,index"; Linux: an icon file or icon theme name
  int window_style = 0;        // Windows show state; Linux ignores it
  std::string description;     // comment shown by the desktop
  std::string hotkey;          // Windows shell notation; Linux ignores it
};

// Windows: true when the shell handed out the shortcut object, even if setting its properties or
// saving it failed afterwards (those failures are not reported). Linux: true when the launcher
// file was written and made executable.
bool write_shortcut(const ShortcutFile& shortcut);

}  // namespace qz::platform
