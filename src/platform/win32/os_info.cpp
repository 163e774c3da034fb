#include "platform/os_info.h"

#include <windows.h>

namespace qz::platform {

bool is_64bit_windows() {
  // Looked up at run time: older 32-bit systems lack the function altogether.
  using Wow64Directory = UINT(WINAPI*)(LPWSTR, UINT);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return false;
  const auto get_directory =
      reinterpret_cast<Wow64Directory>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemWow64DirectoryW")));
  if (!get_directory) return false;
  wchar_t buffer[255] = {};
  return get_directory(buffer, 255) > 0;
}

}  // namespace qz::platform
