#pragma once
// ffmpeg and ffplay as outside tools: where they are, the command lines the jobs start them with,
// and which stream addresses may be handed to them.
#include <string>
#include <string_view>
#include <vector>

#include "app/context.h"

namespace qz::record {

inline constexpr int kLivePort = 1111;
inline constexpr int kReplayPort = 1112;

// What starts one tool: the program file and its arguments as the tool sees them.
struct ToolCommand {
  std::string program;
  std::vector<std::string> args;
};

// The ffmpeg that jobs run. Windows: the program folder's ffm.exe. Linux: a tool in the program
// folder when present (ffm.exe, then ffmpeg), else ffmpeg from PATH; when none exists, the
// program folder's path, so the job reports it missing.
std::string ffmpeg_program(const app::Context& ctx);
// ffplay for the preview on Linux: the program folder's ffplay, else PATH; empty when missing.
std::string ffplay_program(const app::Context& ctx);

// Empty when `address` may be handed to ffmpeg; otherwise why not (a status line). Only http,
// https, rtmp and rtmps addresses without double quotes and control characters pass: the address
// comes from a web page and must never become extra ffmpeg options.
std::string check_stream_address(const std::string& address);

// The output options that keep an .mp4 playable while it is written: fragments (one per key
// frame) after an empty header, each written through to the file as it is cut (ffmpeg otherwise
// holds up to 256 KB, all of a short recording, until it closes the file), so a tool killed, one
// whose closing was cut short by a second interrupt, or a power cut loses only the last fragment.
// They carry a filter that puts AAC audio into the form MP4 keeps, which ffmpeg refuses for
// other audio (MP3): run_tool_once then runs the command again without it.
// Every command that writes an .mp4 from a stream puts them before its file name.
const std::vector<std::string>& crash_safe_mp4_options();
// The fragments alone, for inputs whose audio is in MP4 form already (parts being joined): the
// Windows ffmpeg 4.1's filter garbles such audio instead of passing it through.
const std::vector<std::string>& fragmented_mp4_options();

// Whether `command` carries the audio filter of crash_safe_mp4_options(), and the command
// without it.
bool uses_aac_filter(const ToolCommand& command);
ToolCommand without_aac_filter(ToolCommand command);
// True when ffmpeg's output says it refused that filter: the audio is not AAC.
bool refuses_aac_filter(std::string_view output);

// -hide_banner -i <address> -c copy -f mpegts -y udp://127.0.0.1:<port> -c copy <crash-safe
// options> <file>
ToolCommand ffmpeg_copy_command(const std::string& program, const std::string& address, int udp_port,
                                const std::string& file);

}  // namespace qz::record
