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

// Windows' rules for one argument of a command line: quotes around blanks, backslashes doubled
// only before a quote.
void append_argument(std::wstring& line, const std::wstring& arg) {
  if (!line.empty()) line += L' ';
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
    } else if (c == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
      line += c;
      backslashes = 0;
    } else {
      line.append(backslashes, L'\\');
      line += c;
      backslashes = 0;
    }
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

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

bool make_private_directory(const std::string& path) {
  if (!make_directories(path)) return false;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  CloseHandle(token);
  if (!ok) return false;
  wchar_t* sid = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) return false;
  // A protected list (nothing inherited) that grants the user alone, passed on to what is inside.
  const std::wstring sddl = std::wstring(L"D:P(A;OICI;FA;;;") + sid + L")";
  LocalFree(sid);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  ok = SetFileSecurityW(to_wide(path).c_str(), DACL_SECURITY_INFORMATION, descriptor) != FALSE;
  LocalFree(descriptor);
  return ok;
}

struct BrowserProcess::Impl {
  HANDLE process = nullptr;
};

BrowserProcess::BrowserProcess(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

BrowserProcess::~BrowserProcess() {
  if (impl_->process) CloseHandle(impl_->process);
}

std::unique_ptr<BrowserProcess> BrowserProcess::start(const std::string& program, const std::vector<std::string>& args,
                                                      std::string* error) {
  const std::wstring wprogram = to_wide(program);
  std::wstring line;
  append_argument(line, wprogram);
  for (const std::string& a : args) append_argument(line, to_wide(a));
  STARTUPINFOW startup {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info {};
  if (!CreateProcessW(wprogram.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    if (error) *error = "cannot start " + program + " (" + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  CloseHandle(info.hThread);
  auto impl = std::make_unique<Impl>();
  impl->process = info.hProcess;
  return std::make_unique<BrowserProcess>(std::move(impl));
}

bool BrowserProcess::running() { return WaitForSingleObject(impl_->process, 0) == WAIT_TIMEOUT; }

bool BrowserProcess::wait_exit(int timeout_ms) {
  return WaitForSingleObject(impl_->process, static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0;
}

void BrowserProcess::kill() {
  if (running()) TerminateProcess(impl_->process, 1);
  wait_exit(5000);
}

void start_working_set_trimmer() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::thread([] {
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
    }).detach();
  });
}

}  // namespace qz::platform
