#pragma once
// Runs a tool to its end and turns its console output into status lines as it arrives.
#include <functional>
#include <optional>
#include <string>

#include "record/media_tools.h"
#include "record/tool_job.h"

namespace qz::record {

using LineCallback = std::function<void(const std::string&)>;

// Output is read in chunks of at most this many bytes, each shown as soon as it arrives.
inline constexpr std::size_t kChunkBytes = 1023;

// Starts `command` for `job` (standard output and standard error joined on one pipe, no window,
// current folder the tool's folder), hands one status line per chunk of output to `line`, and
// returns once the tool has ended and its output is drained. A missing program gives the single
// line "<program> 不存在". Marks the job finished before it returns.
void run_tool(ToolJob& job, const ToolCommand& command, const LineCallback& line);
// The same, leaving the job unfinished: the caller has lines to add once the tool has ended.
void run_tool_unfinished(ToolJob& job, const ToolCommand& command, const LineCallback& line);

// One run of the tool as above, without marking the job finished (a job that runs the tool again).
// A command with the crash-safe options' audio filter that ffmpeg refuses (the audio is not AAC)
// runs again at once without it; the refused run's lines from its refusal on are not shown. Once the output has told
// that the disk or folder refuses the file, its "任务完成" is shown as kWriteRefusedLine.
struct ToolRun {
  bool started = false;
  int exit_code = -1;
  bool aac_filter_refused = false;  // the run that counts went without the audio filter
  bool write_refused = false;       // the disk was full or the folder refused the file
};
ToolRun run_tool_once(ToolJob& job, const ToolCommand& command, const LineCallback& line);

// The length of a media file as ffmpeg reads it from its header and fragments; nothing when
// ffmpeg cannot read it as media (a file cut off before its first fragment, a page, nothing).
std::optional<double> seconds_on_disk(const std::string& ffmpeg, const std::string& file);

}  // namespace qz::record
