#include "platform/process.h"

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwctype>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "platform/win32/command_line.h"
#include "platform/win32/wide.h"

namespace qz::platform {
namespace {

// A child inherits the handles named for it and nothing else (an explicit handle list), so a tool
// started at the same time by another thread never takes the ends of our pipes, or our reader
// would never see the output end. The lock keeps the same promise where the system ignores the
// list: our pipe ends are inheritable only while it is held.
std::mutex g_start_mutex;

// The attribute list that names the handles a child may inherit; empty when the system gives none.
class InheritedHandles {
 public:
  explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                     handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      ::DeleteProcThreadAttributeList(list);
      return;
    }
    list_ = list;
  }
  ~InheritedHandles() {
    if (list_) ::DeleteProcThreadAttributeList(list_);
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;

  LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

 private:
  std::vector<HANDLE> handles_;  // the list points into this
  std::vector<char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// The three standard handles once each: the list must not name a handle twice.
std::vector<HANDLE> distinct_handles(std::initializer_list<HANDLE> handles) {
  std::vector<HANDLE> out;
  for (HANDLE h : handles)
    if (h && h != INVALID_HANDLE_VALUE && std::find(out.begin(), out.end(), h) == out.end()) out.push_back(h);
  return out;
}

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

// The job every child that ends with this program joins. Only this process holds its handle, so
// the system closes it when the process goes, however it goes, and then ends every member (and
// what the members started, which joins the job with them). Nothing when the system refuses one.
HANDLE children_job() {
  static HANDLE job = [] {
    HANDLE h = ::CreateJobObjectW(nullptr, nullptr);
    if (!h) return HANDLE(nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    // Breakaway stays allowed: a browser that starts a helper outside the job must not fail.
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!::SetInformationJobObject(h, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
      ::CloseHandle(h);
      return HANDLE(nullptr);
    }
    return h;
  }();
  return job;
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
  if (options.streams == Streams::kPiped && !::CreatePipe(&out_read, &out_write, &sa, 0)) return false;
  if (options.streams != Streams::kNone && !::CreatePipe(&in_read, &in_write, &sa, 0)) {
    close_handle(out_read);
    close_handle(out_write);
    return false;
  }
  // What is not piped goes to the null device, made inheritable for the child under the lock.
  HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             OPEN_EXISTING, 0, nullptr);

  std::wstring command_line = to_wide(windows_command_line(options.program, options.args));
  std::wstring folder =
      options.working_folder.empty() ? folder_of(program) : to_wide(options.working_folder);

  STARTUPINFOEXW six{};
  STARTUPINFOW& si = six.StartupInfo;
  si.cb = sizeof six;
  si.dwFlags = STARTF_USESTDHANDLES;
  if (options.hidden_window) {
    si.dwFlags |= STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
  }
  si.hStdInput = in_read ? in_read : nul;
  si.hStdOutput = out_write ? out_write : nul;
  si.hStdError = si.hStdOutput;
  const InheritedHandles inherited(distinct_handles({si.hStdInput, si.hStdOutput, si.hStdError}));
  six.lpAttributeList = inherited.list();
  DWORD flags = CREATE_UNICODE_ENVIRONMENT;
  if (six.lpAttributeList) flags |= EXTENDED_STARTUPINFO_PRESENT;
  else si.cb = sizeof si;
  if (options.hidden_window) flags |= CREATE_NO_WINDOW;
  // Every child has a process group of its own: a Ctrl+C in our console reaches this program
  // alone (never the browser or a tool directly), which then stops its tools in order.
  flags |= CREATE_NEW_PROCESS_GROUP;
  HANDLE job = options.when_we_end == WhenWeEnd::kKeepRunning ? nullptr : children_job();
  // Suspended until it is in the job, so nothing it starts can slip out before.
  if (job) flags |= CREATE_SUSPENDED;
  PROCESS_INFORMATION pi{};
  BOOL ok;
  {
    std::lock_guard lock(g_start_mutex);
    for (HANDLE h : {out_write, in_read, nul})
      if (h && h != INVALID_HANDLE_VALUE) ::SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    ok = ::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, flags, nullptr,
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
  // Without the job (a system that refuses nesting it) the program still runs, only untied.
  if (job) ::AssignProcessToJobObject(job, pi.hProcess);
  if (job) ::ResumeThread(pi.hThread);
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
  HANDLE process;
  {
    std::lock_guard lock(impl_->mutex);
    process = impl_->process;
  }
  // The output ends when the program has ended and all it wrote is read: something it started
  // that inherited the pipe (under Wine, the desktop process a tool's start wakes) must not hold
  // the reader for as long as that lives. An anonymous pipe has no timed read, so it is peeked.
  bool ended = false;
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(impl_->out_read, nullptr, 0, nullptr, &available, nullptr)) return 0;  // no writer left
    if (available > 0) {
      DWORD n = 0;
      const DWORD wanted = available < size ? available : static_cast<DWORD>(size);
      if (!::ReadFile(impl_->out_read, buffer, wanted, &n, nullptr)) return 0;
      if (n > 0) return n;
      continue;
    }
    if (ended) return 0;
    ended = ::WaitForSingleObject(process, 20) == WAIT_OBJECT_0;
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

std::vector<RunningProcess> processes_running_program(const std::string& program) {
  std::vector<RunningProcess> found;
  const std::wstring wanted_name = lower(file_name_of(to_wide(program)));
  const std::string wanted = from_wide(lower(to_wide(program)));
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (lower(entry.szExeFile) != wanted_name) continue;
    const int id = static_cast<int>(entry.th32ProcessID);
    if (from_wide(lower(to_wide(program_of_process(id)))) == wanted)
      found.push_back({id, static_cast<int>(entry.th32ParentProcessID)});
  }
  ::CloseHandle(snapshot);
  return found;
}

std::string program_of_process(int id) {
  HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
  if (!h) return {};
  wchar_t path[MAX_PATH * 4];
  DWORD size = static_cast<DWORD>(std::size(path));
  std::string program;
  if (::QueryFullProcessImageNameW(h, 0, path, &size)) program = from_wide(std::wstring_view(path, size));
  ::CloseHandle(h);
  return program;
}

namespace {

std::optional<ULONGLONG> creation_time(int id) {
  HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
  if (!h) return std::nullopt;
  FILETIME created{}, exited{}, kernel{}, user{};
  const bool ok = ::GetProcessTimes(h, &created, &exited, &kernel, &user) != 0;
  DWORD code = 0;
  const bool running = ::GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
  ::CloseHandle(h);
  if (!ok || !running) return std::nullopt;
  return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

bool parent_has_gone(const RunningProcess& p) {
  // Windows keeps the parent's id in the child after the parent ends; the id may be reused.
  const auto parent_created = creation_time(p.parent_id);
  const auto own_created = creation_time(p.id);
  return !parent_created || (own_created && *parent_created > *own_created);
}

int current_process_id() { return static_cast<int>(::GetCurrentProcessId()); }

bool terminate_process(int id) {
  HANDLE h = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(id));
  if (!h) return false;
  const bool ok = ::TerminateProcess(h, 0) != 0;
  ::CloseHandle(h);
  return ok;
}

bool start_detached(ProcessOptions options) {
  options.detached = true;
  Process process;
  return process.start(options);
}

bool open_with_desktop(const std::string& path, const std::string& working_folder) {
  const std::wstring wide = to_wide(path);
  const std::wstring folder = working_folder.empty() ? folder_of(wide) : to_wide(working_folder);
  const std::wstring extension = lower(wide.substr(wide.find_last_of(L'.') == std::wstring::npos ? wide.size()
                                                                                                  : wide.find_last_of(L'.')));
  if (extension == L".bat" || extension == L".cmd") {
    // The batch file runs in a hidden console of its own, tied to this program like a tool.
    wchar_t system[MAX_PATH];
    const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    ProcessOptions options;
    options.program = from_wide(std::wstring(system, n) + L"\\cmd.exe");
    // In its own folder the batch file goes by its bare name, which no character of the folder's
    // path (a blank, "&") can break up on cmd's own command line.
    const bool in_folder = working_folder.empty();
    options.args = {"/d", "/c", in_folder ? from_wide(file_name_of(wide)) : path};
    options.working_folder = from_wide(folder);
    options.streams = Streams::kNone;
    options.when_we_end = WhenWeEnd::kStop;
    Process process;
    return process.start(options);
  }
  const auto r = reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, nullptr, wide.c_str(), nullptr,
                                                           folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL));
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
