#include "platform/process.h"

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cwctype>
#include <mutex>

#include "platform/win32/wide.h"

namespace qz::platform {
namespace {

// Handles are inherited only while this lock is held: a tool started at the same time by another
// thread must not inherit the ends of our pipes, or our reader would never see the output end.
std::mutex g_start_mutex;

void close_handle(HANDLE& h) {
  if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  h = nullptr;
}

std::wstring folder_of(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool is_file(const std::wstring& path) {
  const DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

std::wstring file_name_of(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

struct Process::Impl {
  std::mutex mutex;  // guards the process handle's use for stop/terminate and the stdin end
  HANDLE process = nullptr;
  DWORD id = 0;
  HANDLE out_read = nullptr;  // only the reading thread uses it after start
  HANDLE in_write = nullptr;
};

Process::Process() : impl_(std::make_unique<Impl>()) {}

Process::~Process() {
  close_handle(impl_->out_read);
  close_handle(impl_->in_write);
  close_handle(impl_->process);
}

bool Process::start(const ProcessOptions& options) {
  if (impl_->process) return false;
  const std::wstring program = to_wide(options.program);
  if (!is_file(program)) return false;

  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
  HANDLE out_read = nullptr, out_write = nullptr, in_read = nullptr, in_write = nullptr;
  if (options.capture_output && !::CreatePipe(&out_read, &out_write, &sa, 0)) return false;
  if (!::CreatePipe(&in_read, &in_write, &sa, 0)) {
    close_handle(out_read);
    close_handle(out_write);
    return false;
  }
  HANDLE nul = nullptr;
  if (!options.capture_output) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    nul = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                        OPEN_EXISTING, 0, nullptr);
  }

  std::wstring command_line = to_wide(options.windows_command_line);
  std::wstring folder =
      options.working_folder.empty() ? folder_of(program) : to_wide(options.working_folder);

  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  si.wShowWindow = SW_HIDE;
  si.hStdInput = in_read;
  si.hStdOutput = options.capture_output ? out_write : nul;
  si.hStdError = si.hStdOutput;
  PROCESS_INFORMATION pi{};
  BOOL ok;
  {
    std::lock_guard lock(g_start_mutex);
    if (out_write) ::SetHandleInformation(out_write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    ::SetHandleInformation(in_read, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    ok = ::CreateProcessW(program.c_str(), command_line.empty() ? nullptr : command_line.data(),
                          nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &si, &pi);
    // The child has its copies now; ours go before anyone else may start a process.
    close_handle(out_write);
    close_handle(in_read);
    close_handle(nul);
  }
  if (!ok) {
    close_handle(out_read);
    close_handle(in_write);
    return false;
  }
  ::CloseHandle(pi.hThread);
  std::lock_guard lock(impl_->mutex);
  impl_->process = pi.hProcess;
  impl_->id = pi.dwProcessId;
  impl_->out_read = out_read;
  impl_->in_write = in_write;
  return true;
}

bool Process::started() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->process != nullptr;
}

int Process::id() const {
  std::lock_guard lock(impl_->mutex);
  return static_cast<int>(impl_->id);
}

std::size_t Process::read_output(char* buffer, std::size_t size) {
  if (!impl_->out_read || size == 0) return 0;
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(impl_->out_read, buffer, static_cast<DWORD>(size), &n, nullptr)) return 0;
    if (n > 0) return n;  // a zero-byte write by the tool is not the end: read on
  }
}

std::optional<int> Process::wait(int timeout_ms) {
  HANDLE process;
  {
    std::lock_guard lock(impl_->mutex);
    process = impl_->process;
  }
  if (!process) return std::nullopt;
  const DWORD r = ::WaitForSingleObject(process, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
  if (r != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  return static_cast<int>(code);
}

bool Process::stop_gracefully() {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->process || ::WaitForSingleObject(impl_->process, 0) == WAIT_OBJECT_0) return false;
  DWORD written = 0;
  return impl_->in_write && ::WriteFile(impl_->in_write, "q", 1, &written, nullptr) && written == 1;
}

bool Process::terminate() {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->process || ::WaitForSingleObject(impl_->process, 0) == WAIT_OBJECT_0) return false;
  return ::TerminateProcess(impl_->process, 1) != 0;
}

std::vector<int> processes_running_program(const std::string& program) {
  std::vector<int> ids;
  const std::wstring wanted = lower(to_wide(program));
  const std::wstring wanted_name = file_name_of(wanted);
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (lower(entry.szExeFile) != wanted_name) continue;
    HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (!h) continue;
    wchar_t path[MAX_PATH * 4];
    DWORD size = static_cast<DWORD>(std::size(path));
    if (::QueryFullProcessImageNameW(h, 0, path, &size) && lower(std::wstring(path, size)) == wanted)
      ids.push_back(static_cast<int>(entry.th32ProcessID));
    ::CloseHandle(h);
  }
  ::CloseHandle(snapshot);
  return ids;
}

bool terminate_process(int id) {
  HANDLE h = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(id));
  if (!h) return false;
  const bool ok = ::TerminateProcess(h, 0) != 0;
  ::CloseHandle(h);
  return ok;
}

int start_detached(const std::string& program, const std::vector<std::string>& args) {
  const std::wstring wprogram = to_wide(program);
  if (!is_file(wprogram)) return 0;
  // Arguments are quoted the way the C runtime splits them.
  std::wstring line = L"\"" + wprogram + L"\"";
  for (const std::string& arg : args) {
    const std::wstring a = to_wide(arg);
    line += L" \"";
    std::size_t slashes = 0;
    for (wchar_t c : a) {
      if (c == L'\\') {
        ++slashes;
      } else {
        if (c == L'"') line.append(slashes + 1, L'\\');
        slashes = 0;
      }
      line += c;
    }
    line.append(slashes, L'\\');
    line += L'"';
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(wprogram.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &pi))
    return 0;
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return static_cast<int>(pi.dwProcessId);
}

bool shell_open_hidden(const std::string& path) {
  const auto r = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(nullptr, nullptr, to_wide(path).c_str(), nullptr, nullptr, SW_HIDE));
  return r > 32;
}

std::optional<std::string> find_on_search_path(const std::string& name) {
  wchar_t found[MAX_PATH * 4];
  const DWORD n = ::SearchPathW(nullptr, to_wide(name).c_str(), nullptr,
                                static_cast<DWORD>(std::size(found)), found, nullptr);
  if (n == 0 || n >= std::size(found)) return std::nullopt;
  return from_wide(std::wstring_view(found, n));
}

}  // namespace qz::platform
