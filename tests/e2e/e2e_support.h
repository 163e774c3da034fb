#pragma once
// Real media for the end-to-end tests (Linux): a live FLV source made by ffmpeg on loopback, a
// VOD HLS playlist on disk, ffprobe's reading of a result, and child processes with a timeout.
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
#include "support/temp_folder.h"

extern char** environ;

namespace qz::test {

inline int free_port() {
  // The fixture server binds port 0 and reports it; for ffmpeg's own listener we ask the same way.
  HttpServer probe;
  return probe.port();
}

class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env = {},
        const std::string& output_file = {}) {
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

// A live stream: ffmpeg encodes a test picture and tone in real time and serves it as FLV to the
// first client that connects.
class LiveSource {
 public:
  LiveSource() : port_(free_port()), ffmpeg_({"ffmpeg", "-hide_banner", "-loglevel", "error", "-re",
      "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25", "-f", "lavfi", "-i", "sine=frequency=440",
      "-t", "300", "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-g", "25",
      "-c:a", "aac", "-f", "flv", "-listen", "1", url()}) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // listening
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/live.flv"; }

 private:
  int port_;
  Child ffmpeg_;
};

// A VOD HLS playlist of `seconds` in `folder` (v.m3u8 and its segments).
inline bool make_vod(const std::filesystem::path& folder, int seconds) {
  std::filesystem::create_directories(folder);
  Child ffmpeg({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                "testsrc2=size=320x240:rate=25", "-f", "lavfi", "-i", "sine", "-t",
                std::to_string(seconds), "-c:v", "libx264", "-preset", "ultrafast", "-g", "25",
                "-c:a", "aac", "-f", "hls", "-hls_time", "1", "-hls_playlist_type", "vod",
                u8(folder / "v.m3u8")});
  return ffmpeg.wait(std::chrono::seconds(60)) == 0;
}

// Serves every file of `folder` under `prefix` ("/cdn/replay/4242/").
inline void serve_folder(HttpServer& server, const std::string& prefix, const std::filesystem::path& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    server.serve_bytes(prefix + u8(entry.path().filename()), read_bytes(entry.path()));
}

// The duration ffprobe reads from a media file, or -1.
inline double probe_duration(const std::filesystem::path& file) {
  const auto out = std::filesystem::temp_directory_path() / ("qz-probe-" + std::to_string(::getpid()) + ".txt");
  Child probe({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
               "default=noprint_wrappers=1:nokey=1", u8(file)}, {}, u8(out));
  if (probe.wait(std::chrono::seconds(30)) != 0) return -1;
  try {
    return std::stod(read_bytes(out));
  } catch (...) {
    return -1;
  }
}

}  // namespace qz::test
