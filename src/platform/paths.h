#pragma once
#include <string>

namespace qz::platform {

// Folder of the running executable, native separators, no trailing separator.
std::string program_folder();
// The user's Documents folder (Linux: XDG documents folder, else ~/Documents, else home).
std::string documents_folder();
// The user's desktop folder (Linux: XDG desktop folder, else ~/Desktop).
std::string desktop_folder();

}  // namespace qz::platform
