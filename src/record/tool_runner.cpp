#include "record/tool_runner.h"

#include <array>
#include <cstdio>

#include "platform/fs.h"
#include "record/tool_output.h"

namespace qz::record {

namespace {

// Starts the tool and hands each chunk's text to `text` and its status line to `line`.
ToolRun run_and_read(ToolJob& job, const ToolCommand& command, const LineCallback& text, const LineCallback& line) {
  if (!platform::file_exists(command.program)) {
    line(command.program + " 不存在");
    return {};
  }
  platform::ProcessOptions options;
  options.program = command.program;
  options.args = command.args;
  if (!job.start(options)) {
    if (!job.stop_requested()) line(command.program + " 无法启动");
    return {};
  }
  OutputDecoder decoder;
  RepeatFolder folder;
  std::array<char, kChunkBytes + 1> buffer{};
  bool write_refused = false;
  auto show = [&](const std::string& folded) {
    std::string status = chunk_status_line(folded);
    if (write_refused && status == kToolDoneLine) status = kWriteRefusedLine;
    if (!status.empty()) line(status);
  };
  auto take = [&](const std::string& decoded) {
    text(decoded);
    write_refused = write_refused || tells_of_refused_write(decoded);
    show(folder.fold(decoded));
  };
  for (;;) {
    // Blocks until the tool writes or ends; a character kept back from the last read counts
    // towards the chunk so no chunk exceeds kChunkBytes.
    const std::size_t room = kChunkBytes - decoder.pending();
    const std::size_t n = job.process().read_output(buffer.data(), room);
    if (n == 0) break;
    take(decoder.decode(std::string_view(buffer.data(), n)));
  }
  take(decoder.flush());
  show(folder.flush());
  ToolRun run{true, job.process().wait(-1).value_or(-1)};
  run.write_refused = write_refused;
  return run;
}

}  // namespace

ToolRun run_tool_once(ToolJob& job, const ToolCommand& command, const LineCallback& line) {
  if (!uses_aac_filter(command)) return run_and_read(job, command, [](const std::string&) {}, line);
  // From the chunk that tells of the refusal on, the refused run is not shown: the next run
  // describes the same stream again.
  bool refused = false;
  std::string tail;  // the end of the text so far, so a refusal split between two reads is seen
  const ToolRun run = run_and_read(
      job, command,
      [&](const std::string& text) {
        if (refused) return;
        tail += text;
        refused = refuses_aac_filter(tail);
        if (tail.size() > kChunkBytes) tail.erase(0, tail.size() - kChunkBytes);
      },
      [&](const std::string& l) {
        if (!refused) line(l);
      });
  if (!refused || !run.started || job.stop_requested()) return run;
  ToolRun again = run_and_read(job, without_aac_filter(command), [](const std::string&) {}, line);
  again.aac_filter_refused = true;
  return again;
}

std::optional<double> seconds_on_disk(const std::string& ffmpeg, const std::string& file) {
  ToolJob probe;
  std::string output;
  run_tool_once(probe, {ffmpeg, {"-hide_banner", "-i", file}}, [&](const std::string& line) { output += line; });
  int h = 0, m = 0;
  double s = 0;
  const auto at = output.find("Duration: ");
  if (at == std::string::npos || std::sscanf(output.c_str() + at + 10, "%d:%d:%lf", &h, &m, &s) != 3)
    return std::nullopt;
  return h * 3600.0 + m * 60.0 + s;
}

void run_tool_unfinished(ToolJob& job, const ToolCommand& command, const LineCallback& line) {
  run_tool_once(job, command, line);
}

void run_tool(ToolJob& job, const ToolCommand& command, const LineCallback& line) {
  run_tool_once(job, command, line);
  job.mark_finished();
}

}  // namespace qz::record
