#include "platform/system.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/win32/wide.h"

namespace qz::platform {

LocalTime local_time_now() {
  SYSTEMTIME t {};
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::optional<std::string> get_env(const std::string& name) {
  const std::wstring w = to_wide(name);
  const DWORD n = GetEnvironmentVariableW(w.c_str(), nullptr, 0);
  if (n == 0) return std::nullopt;
  std::wstring value(n, L'\0');
  const DWORD got = GetEnvironmentVariableW(w.c_str(), value.data(), n);
  value.resize(got);
  return from_wide(value);
}

bool running_as_admin() { return IsUserAnAdmin() != FALSE; }

void exit_process_now(int code) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  ExitProcess(static_cast<UINT>(code));
}

}  // namespace qz::platform
