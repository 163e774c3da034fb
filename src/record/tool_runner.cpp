#include "record/tool_runner.h"

#include <array>

#include "platform/fs.h"
#include "record/tool_output.h"

namespace qz::record {

ToolRun run_tool_once(ToolJob& job, const ToolCommand& command, const LineCallback& line) {
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
  std::array<char, kChunkBytes + 1> buffer{};
  for (;;) {
    // Blocks until the tool writes or ends; a character kept back from the last read counts
    // towards the chunk so no chunk exceeds kChunkBytes.
    const std::size_t room = kChunkBytes - decoder.pending();
    const std::size_t n = job.process().read_output(buffer.data(), room);
    if (n == 0) break;
    const std::string status = chunk_status_line(decoder.decode(std::string_view(buffer.data(), n)));
    if (!status.empty()) line(status);
  }
  const std::string rest = chunk_status_line(decoder.flush());
  if (!rest.empty()) line(rest);
  return {true, job.process().wait(-1).value_or(-1)};
}

void run_tool_unfinished(ToolJob& job, const ToolCommand& command, const LineCallback& line) {
  run_tool_once(job, command, line);
}

void run_tool(ToolJob& job, const ToolCommand& command, const LineCallback& line) {
  run_tool_once(job, command, line);
  job.mark_finished();
}

}  // namespace qz::record
