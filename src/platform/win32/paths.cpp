#include "platform/paths.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/win32/wide.h"

namespace qz::platform {
namespace {

std::string special_folder(int id) {
  wchar_t buffer[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, buffer, id, FALSE)) return {};
  return from_wide(buffer);
}

}  // namespace

std::string program_folder() {
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  const auto slash = buffer.find_last_of(L"\\/");
  return from_wide(slash == std::wstring::npos ? buffer : buffer.substr(0, slash));
}

std::string documents_folder() { return special_folder(CSIDL_PERSONAL); }
std::string desktop_folder() { return special_folder(CSIDL_DESKTOPDIRECTORY); }

std::string absolute_path(const std::string& path) {
  const std::wstring wide = to_wide(path);
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::wstring full(needed, L'\0');
  const DWORD n = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (n == 0 || n >= needed) return {};
  full.resize(n);
  return from_wide(full);
}

}  // namespace qz::platform
