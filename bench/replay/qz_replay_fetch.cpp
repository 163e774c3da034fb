// usage: qz_replay_fetch <playlist url> <target.mp4> [connections [peak file [preview port]]]
// Downloads an HLS replay the way "开始下载回放" does and exits 0 when ffmpeg made the file. With a
// peak file, writes there this program's own peak resident memory in KiB (ffmpeg not counted).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "app/window_model.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "record/display_writer.h"
#include "record/hls_replay.h"
#include "record/media_tools.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <playlist url> <target.mp4> [connections [peak file]]\n", argv[0]);
    return 2;
  }
  qz::app::WindowModel window;
  qz::record::ToolJob job;
  qz::record::HlsReplayRequest request;
  request.address = argv[1];
  request.target = argv[2];
  request.ffmpeg = qz::platform::find_on_search_path("ffmpeg").value_or("ffmpeg");
  request.preview_port = argc > 5 ? std::stoi(argv[5]) : qz::record::kReplayPort;  // 0: no preview copy
  request.connections = argc > 3 ? std::stoi(argv[3]) : 16;
  std::string lines;
  const auto outcome = qz::record::run_hls_replay(request, job, window, [&](const std::string& line) { lines += line + "\n"; });
  std::cerr << window.text(qz::record::kDisplayBox) << lines;
  if (argc > 4) {
    std::ifstream status("/proc/self/status");
    std::ofstream peak(argv[4]);
    for (std::string l; std::getline(status, l);)
      if (l.rfind("VmHWM:", 0) == 0) peak << std::stoll(l.substr(6)) << "\n";
  }
  const bool made = outcome == qz::record::HlsReplayOutcome::Finished && lines.find("任务完成") != std::string::npos;
  return made ? 0 : 1;
}
