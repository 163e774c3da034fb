#include "record/media_tools.h"

#include "app/text_util.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace qz::record {
namespace {

constexpr const char* kAacFilter = "aac_adtstoasc";
constexpr const char* kFragmentFlags = "+frag_keyframe+empty_moov+default_base_moof";

bool starts_with_scheme(const std::string& address, std::string_view scheme) {
  return address.size() > scheme.size() + 3 && app::starts_with_ignoring_ascii_case(address, scheme) &&
         address.compare(scheme.size(), 3, "://") == 0;
}

std::string first_existing(std::initializer_list<std::string> candidates) {
  for (const std::string& c : candidates)
    if (platform::file_exists(c) && !platform::is_directory(c)) return c;
  return {};
}

}  // namespace

std::string ffmpeg_program(const app::Context& ctx) {
  const std::string in_folder = ctx.ffmpeg_path.empty() ? ctx.path("ffm.exe") : ctx.ffmpeg_path;
#ifdef _WIN32
  return in_folder;
#else
  std::string found = first_existing({in_folder, ctx.path("ffmpeg")});
  if (found.empty()) found = platform::find_on_search_path("ffmpeg").value_or("");
  return found.empty() ? in_folder : found;
#endif
}

std::string ffplay_program(const app::Context& ctx) {
  std::string found = first_existing({ctx.path("ffplay")});
  if (found.empty()) found = platform::find_on_search_path("ffplay").value_or("");
  return found;
}

std::string check_stream_address(const std::string& address) {
  if (address.empty()) return "下载地址为空，没有开始下载";
  bool scheme_ok = false;
  for (std::string_view scheme : {"http", "https", "rtmp", "rtmps"})
    scheme_ok = scheme_ok || starts_with_scheme(address, scheme);
  bool clean = true;
  for (unsigned char c : address)
    if (c < 0x20 || c == 0x7F || c == '"') clean = false;
  if (!scheme_ok || !clean)
    return "下载地址无效（只接受不含引号和控制字符的 http、https、rtmp、rtmps 地址），没有开始下载";
  return {};
}

const std::vector<std::string>& crash_safe_mp4_options() {
  // The header goes out before the first packet, so AAC must arrive in the form MP4 keeps: an
  // MPEG-TS or HLS source carries ADTS frames, which the filter turns into that form (AAC from
  // FLV or RTMP passes through unchanged). The mp4 writer of neither ffmpeg does it by itself.
  static const std::vector<std::string> options{"-bsf:a", kAacFilter, "-movflags", kFragmentFlags, "-flush_packets",
                                                "1"};
  return options;
}

const std::vector<std::string>& fragmented_mp4_options() {
  static const std::vector<std::string> options{"-movflags", kFragmentFlags, "-flush_packets", "1"};
  return options;
}

bool uses_aac_filter(const ToolCommand& command) {
  for (std::size_t i = 0; i + 1 < command.args.size(); ++i)
    if (command.args[i] == "-bsf:a" && command.args[i + 1] == kAacFilter) return true;
  return false;
}

ToolCommand without_aac_filter(ToolCommand command) {
  auto& args = command.args;
  for (std::size_t i = 0; i + 1 < args.size(); ++i)
    if (args[i] == "-bsf:a" && args[i + 1] == kAacFilter) {
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
      break;
    }
  return command;
}

bool refuses_aac_filter(std::string_view output) {
  // Both ffmpegs refuse the filter by name before they write anything: "Error initializing
  // bitstream filter: aac_adtstoasc", after "Codec 'mp3' ... is not supported by the bitstream
  // filter 'aac_adtstoasc'".
  return output.find("bitstream filter: aac_adtstoasc") != std::string_view::npos ||
         output.find("not supported by the bitstream filter 'aac_adtstoasc'") != std::string_view::npos;
}

ToolCommand ffmpeg_copy_command(const std::string& program, const std::string& address, int udp_port,
                                const std::string& file) {
  const std::string udp = "udp://127.0.0.1:" + std::to_string(udp_port);
  // A file name that starts with "-" would read as an option; the file: prefix keeps it a file.
  const std::string output = !file.empty() && file[0] == '-' ? "file:" + file : file;
  ToolCommand cmd;
  cmd.program = program;
  cmd.args = {"-hide_banner", "-i", address, "-c", "copy", "-f", "mpegts", "-y", udp, "-c", "copy"};
  cmd.args.insert(cmd.args.end(), crash_safe_mp4_options().begin(), crash_safe_mp4_options().end());
  cmd.args.push_back(output);
  return cmd;
}

}  // namespace qz::record
