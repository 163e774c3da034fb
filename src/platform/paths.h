#pragma once
#include <string>

namespace qz::platform {

// Folder of the running executable, native separators, no trailing separator.
std::string program_folder();
// The user's Documents folder (Linux: XDG documents folder, else ~/Documents, else home).
std::string documents_folder();
// The user's desktop folder (Linux: XDG desktop folder, else ~/Desktop).
std::string desktop_folder();
// `path` as a console user means it: a relative one is taken from the current working folder
// (on Windows also "\\x" and "C:x", which name the current drive or that drive's current
// folder). An absolute path comes back as given; empty when the current folder is unreadable.
std::string absolute_path(const std::string& path);

}  // namespace qz::platform
