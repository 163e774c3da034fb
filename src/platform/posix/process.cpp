#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

extern char** environ;

namespace qz::platform {
namespace {

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::string folder_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Spawns `program` with `argv`; stdin/stdout/stderr as given (-1: /dev/null). The pipes' own
// ends are close-on-exec, so a tool started at the same time by another thread never holds
// them open (which would keep our reader from seeing the end of the output).
pid_t spawn(const std::string& program, const std::vector<std::string>& args,
            const std::string& folder, int in_fd, int out_fd, bool new_session) {
  std::vector<std::string> storage;
  storage.reserve(args.size() + 1);
  storage.push_back(program);
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, in_fd, 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, out_fd, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (new_session) flags |= POSIX_SPAWN_SETSID;
  posix_spawnattr_setflags(&attr, flags);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return rc == 0 ? pid : 0;
}

bool is_executable_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

struct Process::Impl {
  std::mutex mutex;  // guards pid/reaped/exit_code and the stdin end
  pid_t pid = 0;
  bool reaped = false;
  int exit_code = 0;
  int out_fd = -1;  // read end; only the reading thread uses it after start
  int in_fd = -1;   // write end of the tool's standard input

  // Called with the mutex held.
  bool try_reap(bool block) {
    if (pid == 0 || reaped) return reaped;
    int status = 0;
    pid_t r;
    do r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r == pid) {
      reaped = true;
      exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else if (r < 0) {
      reaped = true;  // not our child any more: nothing to wait for
      exit_code = -1;
    }
    return reaped;
  }

  bool signal(int sig) {
    std::lock_guard lock(mutex);
    // A reaped id may already name another process: never signal it.
    if (pid == 0 || try_reap(false)) return false;
    return ::kill(pid, sig) == 0;
  }
};

Process::Process() : impl_(std::make_unique<Impl>()) {}

Process::~Process() {
  close_fd(impl_->out_fd);
  close_fd(impl_->in_fd);
  // A child that has ended is reaped so it leaves no zombie; one still running is left alone.
  std::lock_guard lock(impl_->mutex);
  impl_->try_reap(false);
}

bool Process::start(const ProcessOptions& options) {
  if (impl_->pid != 0 || !is_executable_file(options.program)) return false;
  int out[2] = {-1, -1};
  int in[2] = {-1, -1};
  if (options.capture_output && ::pipe2(out, O_CLOEXEC) != 0) return false;
  if (::pipe2(in, O_CLOEXEC) != 0) {
    close_fd(out[0]);
    close_fd(out[1]);
    return false;
  }
  const std::string folder =
      options.working_folder.empty() ? folder_of(options.program) : options.working_folder;
  const pid_t pid = spawn(options.program, options.args, folder, in[0], out[1], false);
  close_fd(out[1]);
  close_fd(in[0]);
  if (pid == 0) {
    close_fd(out[0]);
    close_fd(in[1]);
    return false;
  }
  std::lock_guard lock(impl_->mutex);
  impl_->pid = pid;
  impl_->out_fd = out[0];
  impl_->in_fd = in[1];
  return true;
}

bool Process::started() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->pid != 0;
}

int Process::id() const {
  std::lock_guard lock(impl_->mutex);
  return static_cast<int>(impl_->pid);
}

std::size_t Process::read_output(char* buffer, std::size_t size) {
  if (impl_->out_fd < 0 || size == 0) return 0;
  for (;;) {
    const ssize_t n = ::read(impl_->out_fd, buffer, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return 0;
  }
}

std::optional<int> Process::wait(int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    {
      std::lock_guard lock(impl_->mutex);
      if (impl_->pid == 0) return std::nullopt;
      if (impl_->try_reap(false)) return impl_->exit_code;
    }
    if (timeout_ms >= 0 && Clock::now() >= until) return std::nullopt;
    // Waiting for an exit is rare and short (the output has normally ended already), so a
    // light poll keeps the lock free for a stop from another thread.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool Process::stop_gracefully() { return impl_->signal(SIGINT); }

bool Process::terminate() { return impl_->signal(SIGKILL); }

std::vector<int> processes_running_program(const std::string& program) {
  std::vector<int> ids;
  DIR* proc = ::opendir("/proc");
  if (!proc) return ids;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long id = std::strtol(entry->d_name, &end, 10);
    if (id <= 0 || *end != '\0') continue;
    char target[4096];
    const std::string link = std::string("/proc/") + entry->d_name + "/exe";
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    if (std::string(target, static_cast<std::size_t>(n)) == program) ids.push_back(static_cast<int>(id));
  }
  ::closedir(proc);
  return ids;
}

bool terminate_process(int id) { return id > 0 && ::kill(static_cast<pid_t>(id), SIGKILL) == 0; }

int start_detached(const std::string& program, const std::vector<std::string>& args) {
  if (!is_executable_file(program)) return 0;
  const pid_t pid = spawn(program, args, {}, -1, -1, true);
  if (pid == 0) return 0;
  // Nobody waits for the program; this thread collects its exit so it leaves no zombie.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return static_cast<int>(pid);
}

bool shell_open_hidden(const std::string& path) {
  const auto opener = find_on_search_path("xdg-open");
  return opener && start_detached(*opener, {path}) != 0;
}

std::optional<std::string> find_on_search_path(const std::string& name) {
  if (name.find('/') != std::string::npos) return is_executable_file(name) ? std::optional(name) : std::nullopt;
  const char* path = std::getenv("PATH");
  if (!path) return std::nullopt;
  std::string folders = path;
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    if (!folder.empty()) {
      const std::string candidate = folder + "/" + name;
      if (is_executable_file(candidate)) return candidate;
    }
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace qz::platform
