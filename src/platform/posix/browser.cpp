#include "platform/browser.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <mutex>
#include <thread>

#include "platform/fs.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "platform/system.h"

namespace qz::platform {

namespace {

bool is_executable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string on_path(const std::string& name) {
  const std::string path = get_env("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string dir = path.substr(start, end - start);
    if (!dir.empty()) {
      const std::string candidate = join_path(dir, name);
      if (is_executable(candidate)) return candidate;
    }
    start = end + 1;
  }
  return {};
}

// Our end of the browser's debugging pipe. The browser gets the other end of a connected pair
// of local sockets as both its descriptors 3 (commands in) and 4 (answers out), which it reads
// and writes like a pipe; a socket lets a send never raise SIGPIPE, and close() wake the reader.
// Every message ends with a zero byte, both ways.
class PipeChannel : public MessageChannel {
 public:
  PipeChannel(int fd, MessageHandlers handlers) : fd_(fd), handlers_(std::move(handlers)), messages_(handlers_) {}
  ~PipeChannel() override {
    close();
    ::close(fd_);
  }
  PipeChannel(const PipeChannel&) = delete;
  PipeChannel& operator=(const PipeChannel&) = delete;

  void start() {
    open_ = true;
    reader_ = std::thread([this] { read_loop(); });
  }

  bool send(std::string text) override {
    if (!open_) return false;
    text.push_back('\0');
    std::lock_guard lock(send_mutex_);
    return send_all(fd_, text.data(), text.size());
  }

  bool is_open() const override { return open_; }

  void close() override {
    std::lock_guard lock(close_mutex_);
    if (reader_.joinable()) {
      shutdown_socket(fd_);  // the reader sees the end; the browser sees its pipe close
      reader_.join();
    }
    open_ = false;
  }

 private:
  void read_loop() {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
      const long n = receive_some(fd_, buffer.data(), buffer.size());
      if (n <= 0) break;
      messages_.feed(buffer.data(), static_cast<std::size_t>(n));
    }
    open_ = false;
    if (handlers_.on_closed) handlers_.on_closed();
  }

  const int fd_;
  MessageHandlers handlers_;
  ZeroFramedMessages messages_;
  std::atomic<bool> open_{false};
  std::thread reader_;
  std::mutex send_mutex_;
  std::mutex close_mutex_;
};

// A file of /proc, read as a stream (its size shows as 0); nothing when it cannot be opened.
std::optional<std::string> read_proc(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Whether the process `id` runs with `--user-data-dir=<profile>` among its arguments.
bool runs_on_profile(int id, const std::string& profile) {
  const auto command_line = read_proc("/proc/" + std::to_string(id) + "/cmdline");
  if (!command_line) return false;
  const std::string wanted = "--user-data-dir=" + profile;
  std::size_t start = 0;
  while (start < command_line->size()) {
    std::size_t end = command_line->find('\0', start);
    if (end == std::string::npos) end = command_line->size();
    if (command_line->compare(start, end - start, wanted) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Waits up to `limit` for the process to end (a zombie has ended); true when it has.
bool ended_within(int id, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto stat = read_proc("/proc/" + std::to_string(id) + "/stat");
    if (!stat) return true;
    const std::size_t close = stat->rfind(')');
    if (close != std::string::npos && close + 2 < stat->size() && (*stat)[close + 2] == 'Z') return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace

bool browser_pipe_supported() { return true; }

std::unique_ptr<BrowserProcess> BrowserProcess::start_piped(const std::string& program,
                                                            const std::vector<std::string>& args,
                                                            MessageHandlers handlers,
                                                            std::unique_ptr<MessageChannel>* channel,
                                                            std::string* error) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    if (error) *error = std::string("cannot make the browser's debugging pipe: ") + std::strerror(errno);
    return nullptr;
  }
  auto ours = std::make_unique<PipeChannel>(ends[0], std::move(handlers));
  auto process = launch(program, args, {ends[1], ends[1]}, error);
  ::close(ends[1]);  // the browser has its copies; with them gone, its end closes as it exits
  if (!process) return nullptr;
  ours->start();
  *channel = std::move(ours);
  return process;
}

bool end_browser_on_profile(const std::string& profile) {
  // Chromium names its process in the profile's lock: a link to "<host>-<pid>".
  char target[512];
  const std::string lock = join_path(profile, "SingletonLock");
  const ssize_t n = ::readlink(lock.c_str(), target, sizeof target - 1);
  if (n <= 0) return true;
  const std::string owner(target, static_cast<std::size_t>(n));
  const std::size_t dash = owner.rfind('-');
  char host[256] = {};
  if (dash == std::string::npos || ::gethostname(host, sizeof host - 1) != 0 || owner.substr(0, dash) != host)
    return true;  // another machine's browser (a shared folder) is not ours to end
  const std::string digits = owner.substr(dash + 1);
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return true;
  const int id = std::stoi(digits);
  // A stale lock naming an ended process (or one reused by another program) the browser takes
  // over by itself.
  if (id <= 1 || !runs_on_profile(id, profile)) return true;
  // Asked first, so it still writes its cookies out.
  ::kill(id, SIGTERM);
  if (ended_within(id, std::chrono::seconds(5))) return true;
  ::kill(id, SIGKILL);
  return ended_within(id, std::chrono::seconds(5));
}

std::string find_browser() {
  for (const char* name : {"chromium", "chromium-browser", "google-chrome", "google-chrome-stable",
                           "microsoft-edge"}) {
    std::string found = on_path(name);
    if (!found.empty()) return found;
  }
  return {};
}

std::vector<std::string> default_browser_profiles() {
  std::string config = get_env("XDG_CONFIG_HOME").value_or("");
  if (config.empty()) {
    const std::string home = get_env("HOME").value_or("");
    if (home.empty()) return {};
    config = join_path(home, ".config");
  }
  std::vector<std::string> folders;
  for (const char* name : {"chromium", "google-chrome", "google-chrome-beta", "microsoft-edge"})
    folders.push_back(join_path(config, name));
  return folders;
}

bool make_private_directory(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !make_directories(path.substr(0, slash))) return false;
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  // Whatever is there now must be a folder of ours, not a link planted to point elsewhere.
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
  if (ok && (st.st_mode & 07777) != 0700) ok = ::fchmod(fd, 0700) == 0;
  ::close(fd);
  return ok;
}

bool is_executable_program(const std::string& path) { return is_executable(path); }

bool has_display() {
  return !get_env("DISPLAY").value_or("").empty() || !get_env("WAYLAND_DISPLAY").value_or("").empty();
}

void start_working_set_trimmer() {}

}  // namespace qz::platform
