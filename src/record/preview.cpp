#include "record/preview.h"

#include "platform/fs.h"
#include "platform/process.h"
#include "platform/text_codec.h"
#include "record/display_writer.h"
#include "record/media_tools.h"

namespace qz::record {
namespace {

bool whole_number(const std::string& s) {
  if (s.empty() || s.size() > 5) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

int preview_port(int job_kind) { return job_kind == 1 ? kLivePort : kReplayPort; }

PreviewSize preview_size(const std::string& width, const std::string& height) {
  // The texts go into a batch file: anything but digits could carry a second command.
  return {whole_number(width) ? width : "360", whole_number(height) ? height : "640"};
}

std::string preview_batch_text(int job_kind, const std::string& width, const std::string& height) {
  const PreviewSize size = preview_size(width, height);
  return "set SDL_AUDIODRIVER=directsound\r\nffplay -x " + size.width + " -y " + size.height +
         " udp://127.0.0.1:" + std::to_string(preview_port(job_kind));
}

void start_preview(app::Context& ctx, int job_kind) {
  const std::string width = ctx.window.text(app::kPreviewWidthBox);
  const std::string height = ctx.window.text(app::kPreviewHeightBox);
#ifdef _WIN32
  const std::string bat = ctx.path("play.bat");
  platform::write_file_atomically(bat, platform::utf8_to_gbk(preview_batch_text(job_kind, width, height)));
  platform::set_hidden(bat);
  // play.bat calls ffplay by its bare name: it runs in the program folder, wherever the program
  // was started from.
  if (!platform::file_exists(ctx.path("ffplay.exe"))) {
    write_display(ctx.window, "ffplay 不存在");
    return;
  }
  if (!platform::open_with_desktop(bat)) write_display(ctx.window, "ffplay 无法启动");
#else
  const std::string ffplay = ffplay_program(ctx);
  if (ffplay.empty()) {
    write_display(ctx.window, "ffplay 不存在");
    return;
  }
  const PreviewSize size = preview_size(width, height);
  // The preview shows this program's stream, so it goes when the program goes.
  platform::ProcessOptions options;
  options.program = ffplay;
  options.args = {"-x", size.width, "-y", size.height, "udp://127.0.0.1:" + std::to_string(preview_port(job_kind))};
  options.working_folder = ctx.program_folder;
  options.streams = platform::Streams::kNone;
  options.when_we_end = platform::WhenWeEnd::kKill;
  options.hidden_window = false;
  options.detached = true;
  if (!platform::start_detached(options)) write_display(ctx.window, ffplay + " 无法启动");
#endif
}

}  // namespace qz::record
