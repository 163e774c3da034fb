#pragma once
// What a tool's console output becomes on the screen: bytes decoded to text without splitting a
// character between two reads, and one status line per chunk.
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qz::record {

// Tool output arrives in pieces. ffmpeg writes UTF-8 (file names included) on every system, other
// builds may write GBK: a piece is taken as UTF-8 when it is valid UTF-8 and as GBK otherwise. An
// unfinished character at the end of a piece is kept for the next one. Once a piece has shown
// itself to be GBK, the rest of the output is GBK too: many GBK texts are also valid UTF-8
// (C6 B5 is "频" in GBK and "Ƶ" in UTF-8), so a later piece alone cannot tell.
class OutputDecoder {
 public:
  // The text of `bytes` (after what was kept from the previous piece), as UTF-8.
  std::string decode(std::string_view bytes);
  // The bytes kept back, decoded as they are (at the end of the output).
  std::string flush();
  std::size_t pending() const { return carry_.size(); }

 private:
  std::string carry_;
  bool gbk_ = false;
};

// ffmpeg repeats a warning for every packet it concerns ("Non-monotonous DTS …", each time with
// other numbers): one long replay wrote megabytes of them, which pushed the progress line out of
// the display box. A warning line ("[mp4 @ 0x…] …") that, numbers aside, was shown before in the
// same run is counted instead of shown again; at the end each counted line is shown once more with
// its count. Other lines (progress, the streams found) always pass. Output is taken in whole lines
// (ending in LF or CR): the start of a line is held back until its end arrives.
class RepeatFolder {
 public:
  // `text` with the repeats taken out and any unfinished last line held back.
  std::string fold(std::string_view text);
  // The held-back text, then a line per repeated one: "<line>（此行又出现 <n> 次）".
  std::string flush();

 private:
  std::string take_line(std::string_view line);

  struct Repeated {
    std::string line;  // as first shown, without its line end
    std::size_t again = 0;
  };
  std::string held_;
  std::vector<Repeated> seen_;
  std::unordered_map<std::string, std::size_t> index_;  // a line without its numbers -> seen_
};

// The status line for one chunk of output, or empty when the chunk shows nothing:
// LF becomes CR LF, a blank before CR drops the CR, the text ends at a NUL, and the first of
// "muxing overhead:", "Input/output error", "Conversion failed", "No such file or directory"
// found in the chunk replaces it with "任务完成", "输入/输出 错误", "转换失败" or
// "输入/输出 的 文件/路径 不存在".
std::string chunk_status_line(std::string_view chunk);
// The status line of a tool that has written its closing statistics.
inline constexpr const char* kToolDoneLine = "任务完成";

// True when a tool's output tells that the disk or the folder refuses its file: "No space left on
// device", "Permission denied" or "Read-only file system".
bool tells_of_refused_write(std::string_view text);
// Shown in place of "任务完成" once the output has told that: the tool's closing statistics come
// all the same, but what it could not write is not on disk.
inline constexpr const char* kWriteRefusedLine = "文件没有写完：磁盘已满或目录不可写";

}  // namespace qz::record
