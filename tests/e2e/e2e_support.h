#pragma once
// What the end-to-end tests (Linux) add to the recording tests' media: the program itself run
// as a child process with its own environment, and a replay served under the platform's CDN path.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/http_server.h"
#include "record/media_fixture.h"
#include "support/temp_folder.h"

extern char** environ;

namespace qz::test {

class Child {
 public:
  // `working_folder` empty: the test's own.
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env = {},
        const std::string& output_file = {}, const std::string& working_folder = {}) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The extra settings replace what the environment already holds under the same name.
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) {
      const std::string entry(*e);
      const std::string key = entry.substr(0, entry.find('=') + 1);
      bool replaced = false;
      for (const auto& x : extra_env) replaced = replaced || x.rfind(key, 0) == 0;
      if (!replaced) env_strings.push_back(entry);
    }
    for (const auto& e : extra_env) env_strings.push_back(e);
    std::vector<char*> env;
    for (auto& e : env_strings) env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = output_file.empty() ? "/dev/null" : output_file;
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!working_folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, working_folder.c_str());
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool started() const { return pid_ > 0; }
  int id() const { return pid_; }
  void signal(int sig) { if (pid_ > 0) ::kill(pid_, sig); }
  // The exit code, or -1 when the child is still running after `limit` (or died by a signal).
  int wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0 && !status_) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
      if (std::chrono::steady_clock::now() >= end) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return status_ ? *status_ : -1;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// A VOD HLS playlist of `seconds` served under `prefix` as well, with its playlist also at
// prefix + `playlist`.
inline bool serve_vod_at(HttpServer& server, const std::filesystem::path& folder, int seconds,
                         const std::string& prefix, const std::string& playlist) {
  if (!serve_vod(server, test_ffmpeg(), folder, seconds)) return false;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    server.serve_bytes(prefix + u8(entry.path().filename()), read_bytes(entry.path()));
  server.serve_bytes(prefix + playlist, read_bytes(folder / "index.m3u8"));
  return true;
}

// Seconds of a finished file as ffmpeg reads it, or -1 when it does not decode whole.
inline double probe_duration(const std::filesystem::path& file) {
  return playable_duration(test_ffmpeg(), u8(file)).value_or(-1);
}

}  // namespace qz::test
