#pragma once
// Real media for the recording tests: the ffmpeg the tests themselves use (Linux: from PATH;
// Windows: the Windows build of the same width named by QZ_WINDOWS_FFMPEG), a live FLV source that serves one
// client on loopback, a VOD HLS playlist in a folder, and the duration of a finished file.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/http_server.h"
#include "platform/process.h"
#include "record/media_tools.h"
#include "support/temp_folder.h"

namespace qz::test {

// The ffmpeg the tests run for sources and checks; empty when this machine has none.
inline std::string test_ffmpeg() {
#ifdef _WIN32
  const char* linux_path = std::getenv("QZ_WINDOWS_FFMPEG");
  if (!linux_path || !*linux_path) return {};
  std::string path = std::string("Z:") + linux_path;  // Wine shows the Linux root as drive Z:
  for (char& c : path)
    if (c == '/') c = '\\';
  return std::filesystem::exists(from_u8(path)) ? path : std::string();
#else
  return platform::find_on_search_path("ffmpeg").value_or("");
#endif
}

inline platform::ProcessOptions tool_options(const std::string& program, std::vector<std::string> args) {
  platform::ProcessOptions o;
  o.program = program;
  o.args = std::move(args);
  return o;
}

struct ToolResult {
  int exit_code = -1;
  std::string output;
};

inline ToolResult run_tool_to_end(platform::ProcessOptions options) {
  platform::Process p;
  ToolResult r;
  if (!p.start(options)) return r;
  char buffer[4096];
  while (const std::size_t n = p.read_output(buffer, sizeof buffer)) r.output.append(buffer, n);
  r.exit_code = p.wait(-1).value_or(-1);
  return r;
}

// Seconds of a media file as ffmpeg reads it, when the whole file decodes without error.
inline std::optional<double> playable_duration(const std::string& ffmpeg, const std::string& file) {
  const ToolResult r = run_tool_to_end(tool_options(ffmpeg, {"-hide_banner", "-i", file, "-f", "null", "-"}));
  std::smatch m;
  static const std::regex duration(R"(Duration: (\d+):(\d+):(\d+(\.\d+)?))");
  if (r.exit_code != 0 || !std::regex_search(r.output, m, duration)) return std::nullopt;
  return std::stod(m[1]) * 3600 + std::stod(m[2]) * 60 + std::stod(m[3]);
}

// The first audio stream of a media file, decoded to its end: its codec as ffmpeg names it and
// the seconds decoded. Empty when the file has no audio or it does not decode.
struct DecodedAudio {
  std::string codec;
  double seconds = 0;
};
inline std::optional<DecodedAudio> decoded_audio(const std::string& ffmpeg, const std::string& file) {
  const ToolResult r =
      run_tool_to_end(tool_options(ffmpeg, {"-hide_banner", "-i", file, "-map", "0:a:0", "-f", "null", "-"}));
  std::smatch codec;
  static const std::regex audio(R"(Stream #0:\d+[^:]*: Audio: (\w+))");
  if (r.exit_code != 0 || !std::regex_search(r.output, codec, audio)) return std::nullopt;
  static const std::regex time(R"(time=(\d+):(\d+):(\d+(\.\d+)?))");
  DecodedAudio decoded{codec[1], 0};
  for (std::sregex_iterator it(r.output.begin(), r.output.end(), time), end; it != end; ++it)
    decoded.seconds = std::stod((*it)[1]) * 3600 + std::stod((*it)[2]) * 60 + std::stod((*it)[3]);
  return decoded;
}

inline int free_port() {
  HttpServer probe;  // the port it was given is free again once it closes
  return probe.port();
}

// A live FLV stream made on the fly at real-time speed, for one client:
// http://127.0.0.1:<port>/live.flv. It ends when that client goes.
class LiveSource {
 public:
  explicit LiveSource(const std::string& ffmpeg, const std::string& size = "320x240") : port_(free_port()) {
    auto options = tool_options(
        ffmpeg, {"-hide_banner", "-loglevel", "error", "-re", "-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=25",
                 "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-c:v", "libx264", "-preset",
                 "ultrafast", "-tune", "zerolatency", "-g", "25", "-pix_fmt", "yuv420p", "-c:a", "aac", "-f", "flv",
                 "-listen", "1", address()});
    options.streams = platform::Streams::kInputOnly;
    started_ = process_.start(options);
    // It listens once it has started up; a probe connection would use up its one client.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  }
  ~LiveSource() {
    if (!process_.wait(3000)) process_.terminate();
    process_.wait(5000);
  }
  bool started() const { return started_; }
  std::string address() const { return "http://127.0.0.1:" + std::to_string(port_) + "/live.flv"; }

 private:
  int port_;
  bool started_ = false;
  platform::Process process_;
};

// A finished FLV file of `seconds` seconds with its sound in the `audio` encoder's codec, as bytes.
inline std::string flv_file(const std::string& ffmpeg, const std::filesystem::path& folder, int seconds,
                            const std::string& audio) {
  const std::string d = std::to_string(seconds);
  const auto file = folder / "made.flv";
  run_tool_to_end(tool_options(
      ffmpeg, {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=" + d,
               "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" + d, "-c:v", "libx264",
               "-preset", "ultrafast", "-g", "25", "-pix_fmt", "yuv420p", "-c:a", audio, "-f", "flv", u8(file)}));
  return std::filesystem::exists(file) ? read_bytes(file) : std::string();
}

// A VOD HLS playlist of `seconds` seconds in one-second segments, served at /vod/index.m3u8;
// each answer waits `delay_ms`, so a download can be made to last. The sound is in the `audio`
// encoder's codec.
inline bool serve_vod(HttpServer& server, const std::string& ffmpeg, const std::filesystem::path& folder,
                      int seconds, int delay_ms = 0, const std::string& audio = "aac") {
  std::filesystem::create_directories(folder);
  const std::string d = std::to_string(seconds);
  auto options = tool_options(
      ffmpeg, {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=" + d,
               "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" + d, "-c:v", "libx264",
               "-preset", "ultrafast", "-g", "25", "-pix_fmt", "yuv420p", "-c:a", audio, "-f", "hls", "-hls_time",
               "1", "-hls_list_size", "0", "-hls_playlist_type", "vod", "-hls_segment_filename", "seg%03d.ts",
               "index.m3u8"});
  options.working_folder = u8(folder);
  if (run_tool_to_end(options).exit_code != 0) return false;
  HttpServer::FileOptions serve;
  serve.delay_ms = delay_ms;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    server.serve_bytes("/vod/" + u8(entry.path().filename()), read_bytes(entry.path()), serve);
  return std::filesystem::exists(folder / "index.m3u8");
}

}  // namespace qz::test
