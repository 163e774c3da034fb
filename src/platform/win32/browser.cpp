#include "platform/browser.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <mutex>
#include <thread>

#include "platform/fs.h"
#include "platform/system.h"
#include "platform/win32/wide.h"

namespace qz::platform {

namespace {

std::string app_path(HKEY root, REGSAM view, const wchar_t* exe) {
  const std::wstring name = std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\") + exe;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, name.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return {};
  wchar_t value[MAX_PATH * 2] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  const LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  std::wstring path = value;
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
  return from_wide(path);
}

bool is_file(const std::string& path) { return !path.empty() && file_exists(path) && !is_directory(path); }

}  // namespace

std::string find_browser() {
  for (const wchar_t* exe : {L"chrome.exe", L"msedge.exe"})
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      for (REGSAM view : {REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)}) {
        const std::string found = app_path(root, view, exe);
        if (is_file(found)) return found;
      }
  const char* relative[] = {"Google\\Chrome\\Application\\chrome.exe", "Microsoft\\Edge\\Application\\msedge.exe",
                            "Chromium\\Application\\chrome.exe"};
  for (const char* variable : {"ProgramW6432", "ProgramFiles", "ProgramFiles(x86)", "LOCALAPPDATA"}) {
    const std::string base = get_env(variable).value_or("");
    if (base.empty()) continue;
    for (const char* r : relative) {
      const std::string candidate = join_path(base, r);
      if (is_file(candidate)) return candidate;
    }
  }
  return {};
}

std::vector<std::string> default_browser_profiles() {
  const std::string local = get_env("LOCALAPPDATA").value_or("");
  if (local.empty()) return {};
  return {join_path(local, "Google\\Chrome\\User Data"), join_path(local, "Microsoft\\Edge\\User Data"),
          join_path(local, "Chromium\\User Data")};
}

namespace {

// A protected list (nothing inherited) that grants the current user alone, passed on to what is
// inside. Nothing when the user cannot be told.
PSECURITY_DESCRIPTOR user_only_descriptor() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  const bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  CloseHandle(token);
  if (!ok) return nullptr;
  wchar_t* sid = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) return nullptr;
  const std::wstring sddl = std::wstring(L"D:P(A;OICI;FA;;;") + sid + L")";
  LocalFree(sid);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return nullptr;
  return descriptor;
}

}  // namespace

bool make_private_directory(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos && slash > 0 && !make_directories(path.substr(0, slash))) return false;
  PSECURITY_DESCRIPTOR descriptor = user_only_descriptor();
  if (!descriptor) return false;
  const std::wstring wide = to_wide(path);
  // Made with the list in place, so the folder is never open to others, not even for a moment.
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  bool ok = CreateDirectoryW(wide.c_str(), &attributes) != FALSE;
  if (!ok && GetLastError() == ERROR_ALREADY_EXISTS) {
    // There already: it must be a plain folder, not a junction or link pointing elsewhere.
    const DWORD found = GetFileAttributesW(wide.c_str());
    ok = found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_DIRECTORY) &&
         !(found & FILE_ATTRIBUTE_REPARSE_POINT) &&
         SetFileSecurityW(wide.c_str(), DACL_SECURITY_INFORMATION, descriptor) != FALSE;
  }
  LocalFree(descriptor);
  return ok;
}

bool is_executable_program(const std::string& path) {
  if (!is_file(path)) return false;
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos) return false;
  std::string extension = path.substr(dot);
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (extension != ".exe") return false;
  HANDLE file = CreateFileW(to_wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char head[2] = {};
  DWORD got = 0;
  const bool read = ReadFile(file, head, sizeof head, &got, nullptr) != FALSE;
  CloseHandle(file);
  return read && got == 2 && head[0] == 'M' && head[1] == 'Z';  // the DOS header every program starts with
}

bool has_display() { return true; }

void start_working_set_trimmer() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Runs as long as the program: its owner is never destroyed, so the thread is never joined.
    static auto* trimmer = new std::jthread([] {
      HANDLE self = OpenProcess(PROCESS_ALL_ACCESS, FALSE, GetCurrentProcessId());
      HANDLE timer = CreateWaitableTimerW(nullptr, FALSE, nullptr);
      if (!self || !timer) return;
      for (;;) {
        LARGE_INTEGER due;
        due.QuadPart = -600000000LL;  // 60 s from now, in 100 ns steps
        if (!SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) return;
        WaitForSingleObject(timer, INFINITE);
        SetProcessWorkingSetSize(self, 100, 1000);
      }
    });
    (void)trimmer;
  });
}

// Windows keeps the loopback port: a browser left on the profile is found through its port file.
bool browser_pipe_supported() { return false; }

bool end_browser_on_profile(const std::string&) { return true; }

std::unique_ptr<BrowserProcess> BrowserProcess::start_piped(const std::string&, const std::vector<std::string>&,
                                                            MessageHandlers, std::unique_ptr<MessageChannel>*,
                                                            std::string* error) {
  if (error) *error = "the debugging pipe is not used on Windows";
  return nullptr;
}

}  // namespace qz::platform
