#pragma once
// The fast way of the replay download job. A replay is a long HLS playlist on a far CDN; ffmpeg
// alone fetches its segments one after another, paying the CDN's answer delay for each. Here the
// program reads the playlist itself, fetches segments (and keys and init sections) over several
// connections at once into a folder beside the target, and hands ffmpeg a playlist of its own on
// a loopback server: parts already on disk when ffmpeg asks for it are read from their files, the
// others through the server, whose answers wait until that part is on disk. ffmpeg still does the
// decrypting and the tag handling, and remuxes while the download goes on. The preview's copy
// comes from a second ffmpeg reading the same playlist at the replay's own pace.
//
// A segment is tried three times; one that cannot be had is answered "not found" to ffmpeg (which
// skips it) and its time range is named. A stop keeps the segments that arrived in order from the
// start: ffmpeg gets the rest as empty segments, so it ends by itself with a whole file.
#include <functional>
#include <string>

#include "app/window_model.h"
#include "record/tool_job.h"
#include "record/tool_runner.h"

namespace qz::record {

struct HlsReplayRequest {
  std::string address;       // what the user gave: a master or media playlist, or anything else
  std::string target;        // the .mp4 to write
  std::string ffmpeg;        // the program
  int preview_port = 0;      // a copy goes to udp://127.0.0.1:<port> at the replay's own pace, for the preview; 0: none
  int connections = 16;
};

enum class HlsReplayOutcome {
  NotForUs,  // not an HLS replay with an end (not HLS, or a live playlist): go the plain way
  Finished,  // the job ran (its lines say how it went)
};

// Runs the replay download on the calling thread until ffmpeg has ended and the closing lines are
// written (the job is left for the caller to mark finished); lines go to `line`, the progress line
// and the status bar's percentage to `window`.
HlsReplayOutcome run_hls_replay(const HlsReplayRequest& request, ToolJob& job, app::WindowModel& window,
                                const LineCallback& line);

// The folder beside the target where segments wait.
std::string segment_folder_of(const std::string& target);

}  // namespace qz::record
