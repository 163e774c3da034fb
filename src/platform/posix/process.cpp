#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
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

bool is_executable_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Everything the child needs, prepared before the fork: between fork and exec only plain system
// calls may run (another thread may have held the allocator's lock at the fork).
struct SpawnPlan {
  std::string program;
  std::vector<std::string> storage;
  std::vector<char*> argv;
  std::string folder;
  int in_fd = -1;   // -1: /dev/null
  int out_fd = -1;  // -1: /dev/null
  bool detached = false;
  int death_signal = 0;  // 0: none
  pid_t parent = 0;
  std::vector<int> extra_fds;  // become the child's 3, 4, ...
};

constexpr std::size_t kMaxExtraFds = 8;

[[noreturn]] void exec_child(const SpawnPlan& plan, int error_fd) {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig : {SIGINT, SIGPIPE, SIGTERM, SIGQUIT, SIGCHLD}) ::sigaction(sig, &dfl, nullptr);
  // Its own process group (a session when detached): the terminal's Ctrl+C reaches this program,
  // which then stops its tools in order, instead of every tool at once behind its back.
  if (plan.detached)
    ::setsid();
  else
    ::setpgid(0, 0);
  if (plan.death_signal != 0) {
    ::prctl(PR_SET_PDEATHSIG, plan.death_signal);
    // The parent may have gone between the fork and the line above: then no signal comes.
    if (::getppid() != plan.parent) ::_exit(128 + plan.death_signal);
  }
  // The extra descriptors move above every number they are going to first, so placing one never
  // overwrites another (nor a standard stream's source).
  const int first_free = 3 + static_cast<int>(plan.extra_fds.size());
  int moved[kMaxExtraFds];
  for (std::size_t i = 0; i < plan.extra_fds.size(); ++i) moved[i] = ::fcntl(plan.extra_fds[i], F_DUPFD, first_free);
  const int null_in = plan.in_fd >= 0 ? -1 : ::open("/dev/null", O_RDONLY);
  const int null_out = plan.out_fd >= 0 ? -1 : ::open("/dev/null", O_WRONLY);
  ::dup2(plan.in_fd >= 0 ? plan.in_fd : null_in, 0);
  ::dup2(plan.out_fd >= 0 ? plan.out_fd : null_out, 1);
  ::dup2(plan.out_fd >= 0 ? plan.out_fd : null_out, 2);
  for (std::size_t i = 0; i < plan.extra_fds.size(); ++i) ::dup2(moved[i], 3 + static_cast<int>(i));
  // Nothing else this program has open (sockets, files, other tools' pipes) goes with it.
  ::syscall(SYS_close_range, static_cast<unsigned>(first_free), ~0u, 4u /* CLOSE_RANGE_CLOEXEC */);
  if (!plan.folder.empty() && ::chdir(plan.folder.c_str()) != 0) {
    const int e = errno;
    [[maybe_unused]] auto n = ::write(error_fd, &e, sizeof e);
    ::_exit(127);
  }
  ::execve(plan.program.c_str(), plan.argv.data(), environ);
  const int e = errno;
  [[maybe_unused]] auto n = ::write(error_fd, &e, sizeof e);
  ::_exit(127);
}

// Forks and execs; the child's id, or 0 when it could not be started.
pid_t fork_and_exec(const SpawnPlan& plan) {
  int error_pipe[2];
  if (::pipe2(error_pipe, O_CLOEXEC) != 0) return 0;
  const pid_t pid = ::fork();
  if (pid == 0) exec_child(plan, error_pipe[1]);
  close_fd(error_pipe[1]);
  if (pid < 0) {
    close_fd(error_pipe[0]);
    return 0;
  }
  // The write end closes with a successful exec; an errno arrives when it failed.
  int child_errno = 0;
  ssize_t n;
  do n = ::read(error_pipe[0], &child_errno, sizeof child_errno);
  while (n < 0 && errno == EINTR);
  close_fd(error_pipe[0]);
  if (n == sizeof child_errno) {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return 0;
  }
  return pid;
}

// The keeper: a small process forked (without a new program) when the first tool starts, which
// outlives this program to see that its tools end. The kernel asks each tool to stop when this
// program goes (its end-of-parent signal, SIGINT), but an ffmpeg waiting on a live playlist, or on
// a local server that went with us, only notes the first interrupt: the keeper interrupts the
// tools again after kKeeperSecondStop, which ends such a wait, and kills what still runs after
// kKeeperKill. It learns of each tool through a pidfd passed over a socket (a process's id could
// name another process by the time it is used), and of this program's end through that socket
// closing. Between the fork and its end it makes plain system calls only.
constexpr int kKeeperSecondStopMs = 2000;
constexpr int kKeeperKillMs = 10000;
constexpr int kKeeperMaxTools = 128;

long now_ms() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

// Waits until `deadline_ms` or until every tool has ended; closes the pidfds of those that end.
void keeper_wait_for_tools(int* pidfds, int& count, long deadline_ms) {
  while (count > 0) {
    const long left = deadline_ms - now_ms();
    if (left <= 0) return;
    pollfd polls[kKeeperMaxTools];
    for (int i = 0; i < count; ++i) polls[i] = {pidfds[i], POLLIN, 0};
    timespec wait{left / 1000, (left % 1000) * 1000000L};
    if (::syscall(SYS_ppoll, polls, count, &wait, nullptr, 0) < 0 && errno != EINTR) return;
    for (int i = count - 1; i >= 0; --i)
      if (polls[i].revents != 0) {
        ::syscall(SYS_close, pidfds[i]);
        pidfds[i] = pidfds[--count];
      }
  }
}

[[noreturn]] void run_keeper(int channel) {
  // Our terminal's Ctrl+C and a signal to our process group are this program's, not the keeper's:
  // every signal stays blocked (as on the launcher thread it was forked from).
  ::setpgid(0, 0);
  int pidfds[kKeeperMaxTools];
  int count = 0;
  for (;;) {
    pollfd polls[kKeeperMaxTools + 1];
    polls[0] = {channel, POLLIN, 0};
    for (int i = 0; i < count; ++i) polls[i + 1] = {pidfds[i], POLLIN, 0};
    if (::syscall(SYS_ppoll, polls, count + 1, nullptr, nullptr, 0) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    // A tool that has ended needs no keeping.
    for (int i = count - 1; i >= 0; --i)
      if (polls[i + 1].revents != 0) {
        ::syscall(SYS_close, pidfds[i]);
        pidfds[i] = pidfds[--count];
      }
    if (polls[0].revents == 0) continue;
    char byte;
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const long n = ::syscall(SYS_recvmsg, channel, &message, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // this program has ended
    const cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (header && header->cmsg_type == SCM_RIGHTS) {
      int pidfd;
      __builtin_memcpy(&pidfd, CMSG_DATA(header), sizeof pidfd);
      if (count < kKeeperMaxTools)
        pidfds[count++] = pidfd;
      else
        ::syscall(SYS_close, pidfd);
    }
  }
  const long gone_at = now_ms();
  keeper_wait_for_tools(pidfds, count, gone_at + kKeeperSecondStopMs);
  for (int i = 0; i < count; ++i) ::syscall(SYS_pidfd_send_signal, pidfds[i], SIGINT, nullptr, 0);
  keeper_wait_for_tools(pidfds, count, gone_at + kKeeperKillMs);
  for (int i = 0; i < count; ++i) ::syscall(SYS_pidfd_send_signal, pidfds[i], SIGKILL, nullptr, 0);
  ::_exit(0);
}

// Starts the keeper; this program's end of its channel, or -1 when it could not be started.
int start_keeper() {
  int channel[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, channel) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(channel[1], 3);
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) ::dup2(null, fd);
    ::syscall(SYS_close_range, 4u, ~0u, 0u);  // nothing of ours stays open in the keeper
    run_keeper(3);
  }
  close_fd(channel[1]);
  if (pid < 0) close_fd(channel[0]);
  return channel[0];
}

// Hands the tool to the keeper (when there is one and the system has pidfds).
void keep(int channel, pid_t tool) {
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, tool, 0));
  if (pidfd < 0) return;
  char byte = 0;
  iovec data{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &pidfd, sizeof pidfd);
  ::sendmsg(channel, &message, MSG_NOSIGNAL);
  ::close(pidfd);
}

// Every child is forked from this one thread, which lives as long as the program: the kernel
// sends a child its end-of-parent signal when the *thread* that forked it ends, so a child
// forked from a job's short-lived thread would be signalled as soon as that job ended. The same
// thread collects the exit of children nobody waits for, so they leave no zombies.
class Launcher {
 public:
  // Never destroyed: its thread must outlive every child it started, that is, live as long as
  // the program itself (ending it earlier would signal every child at once).
  static Launcher& instance() {
    static Launcher* launcher = new Launcher;
    return *launcher;
  }

  pid_t spawn(const SpawnPlan& plan) {
    std::unique_lock lock(mutex_);
    Request request{&plan};
    queue_.push_back(&request);
    changed_.notify_all();
    changed_.wait(lock, [&] { return request.done; });
    return request.pid;
  }

  // Collects the exit of a child that nobody will wait for any more.
  void adopt(pid_t pid) {
    std::lock_guard lock(mutex_);
    orphans_.push_back(pid);
    changed_.notify_all();
  }

 private:
  struct Request {
    const SpawnPlan* plan;
    pid_t pid = 0;
    bool done = false;
  };

  Launcher() {
    // Signals meant for the program go to its other threads, never to the launcher mid-fork.
    sigset_t all, old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    thread_ = std::jthread([this] { run(); });
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }

  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      while (!queue_.empty()) {
        Request* request = queue_.front();
        queue_.pop_front();
        lock.unlock();
        const pid_t pid = fork_and_exec(*request->plan);
        if (pid != 0 && request->plan->death_signal == SIGINT) {
          if (keeper_ < 0) keeper_ = start_keeper();
          if (keeper_ >= 0) keep(keeper_, pid);
        }
        lock.lock();
        request->pid = pid;
        request->done = true;
        changed_.notify_all();
      }
      reap_orphans();
      if (orphans_.empty())
        changed_.wait(lock, [&] { return !queue_.empty() || !orphans_.empty(); });
      else
        changed_.wait_for(lock, std::chrono::milliseconds(500), [&] { return !queue_.empty(); });
    }
  }

  void reap_orphans() {
    std::erase_if(orphans_, [](pid_t pid) {
      int status;
      const pid_t r = ::waitpid(pid, &status, WNOHANG);
      return r == pid || (r < 0 && errno != EINTR);
    });
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Request*> queue_;
  std::vector<pid_t> orphans_;
  int keeper_ = -1;  // launcher thread only
  std::jthread thread_;  // never joined: the launcher is never destroyed (see instance())
};

int death_signal(WhenWeEnd when) {
  switch (when) {
    case WhenWeEnd::kKeepRunning: return 0;
    case WhenWeEnd::kStop: return SIGINT;
    case WhenWeEnd::kKill: return SIGKILL;
  }
  return 0;
}

// When a process started, in clock ticks since boot (field 22 of its stat), or nothing; only compared
// with another such value, never turned into seconds.
std::optional<unsigned long long> start_ticks(int id) {
  std::ifstream in("/proc/" + std::to_string(id) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i)
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  return std::nullopt;
}

int parent_of(int id) {
  std::ifstream in("/proc/" + std::to_string(id) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  const auto close = stat.rfind(')');
  if (close == std::string::npos || close + 4 > stat.size()) return 0;
  return std::atoi(stat.c_str() + close + 4);  // ") S <ppid>"
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
  // A child still running is left alone; the launcher collects its exit later.
  std::lock_guard lock(impl_->mutex);
  if (impl_->pid != 0 && !impl_->try_reap(false)) Launcher::instance().adopt(impl_->pid);
}

bool Process::start(const ProcessOptions& options) {
  if (impl_->pid != 0 || !is_executable_file(options.program) || options.extra_descriptors.size() > kMaxExtraFds)
    return false;
  int out[2] = {-1, -1};
  int in[2] = {-1, -1};
  if (options.streams == Streams::kPiped && ::pipe2(out, O_CLOEXEC) != 0) return false;
  if (options.streams != Streams::kNone && ::pipe2(in, O_CLOEXEC) != 0) {
    close_fd(out[0]);
    close_fd(out[1]);
    return false;
  }
  SpawnPlan plan;
  plan.program = options.program;
  plan.storage.push_back(options.program);
  plan.storage.insert(plan.storage.end(), options.args.begin(), options.args.end());
  for (std::string& s : plan.storage) plan.argv.push_back(s.data());
  plan.argv.push_back(nullptr);
  plan.folder = options.working_folder.empty() ? folder_of(options.program) : options.working_folder;
  plan.in_fd = in[0];
  plan.out_fd = out[1];
  plan.detached = options.detached;
  plan.death_signal = death_signal(options.when_we_end);
  plan.parent = ::getpid();
  plan.extra_fds = options.extra_descriptors;
  const pid_t pid = Launcher::instance().spawn(plan);
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
  // The output ends when the program has ended and all it wrote is read: something it started
  // that kept a copy of the pipe must not hold the reader for as long as that lives.
  bool ended = false;
  for (;;) {
    pollfd ready{impl_->out_fd, POLLIN, 0};
    const int r = ::poll(&ready, 1, ended ? 0 : 20);
    if (r > 0) {
      const ssize_t n = ::read(impl_->out_fd, buffer, size);
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) return 0;
    } else if (r == 0) {
      if (ended) return 0;
      ended = wait(0).has_value();
    } else if (errno != EINTR) {
      return 0;
    }
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

bool start_detached(ProcessOptions options) {
  options.detached = true;
  Process process;
  return process.start(options);
}

bool open_with_desktop(const std::string& path, const std::string& working_folder) {
  const auto opener = find_on_search_path("xdg-open");
  if (!opener) return false;
  ProcessOptions options;
  options.program = *opener;
  options.args = {path};
  options.working_folder = working_folder.empty() ? folder_of(path) : working_folder;
  options.streams = Streams::kNone;
  options.when_we_end = WhenWeEnd::kKeepRunning;
  return start_detached(options);
}

std::vector<RunningProcess> processes_running_program(const std::string& program) {
  std::vector<RunningProcess> found;
  DIR* proc = ::opendir("/proc");
  if (!proc) return found;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long id = std::strtol(entry->d_name, &end, 10);
    if (id <= 0 || *end != '\0') continue;
    if (program_of_process(static_cast<int>(id)) == program)
      found.push_back({static_cast<int>(id), parent_of(static_cast<int>(id))});
  }
  ::closedir(proc);
  return found;
}

std::string program_of_process(int id) {
  char target[4096];
  const std::string link = "/proc/" + std::to_string(id) + "/exe";
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

bool parent_has_gone(const RunningProcess& p) {
  if (p.parent_id <= 1) return true;
  const auto parent_start = start_ticks(p.parent_id);
  const auto own_start = start_ticks(p.id);
  // An id that now names a process younger than the child is not its parent any more.
  return !parent_start || (own_start && *parent_start > *own_start);
}

int current_process_id() { return static_cast<int>(::getpid()); }

bool terminate_process(int id) { return id > 0 && ::kill(static_cast<pid_t>(id), SIGKILL) == 0; }

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
