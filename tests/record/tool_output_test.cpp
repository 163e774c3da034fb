#include "record/tool_output.h"

#include <gtest/gtest.h>

#include "platform/text_codec.h"

namespace qz::record {
namespace {

TEST(ChunkStatusLine, MarkersInOrderElseTheChunkItself) {
  struct Case {
    std::string chunk, line;
  };
  const Case cases[] = {
      {"video:1kB audio:1kB muxing overhead: 0.5%\n", "任务完成"},
      {"Conversion failed!\nmuxing overhead: 1%", "任务完成"},  // first row wins
      {"http://x: Input/output error\nConversion failed!", "输入/输出 错误"},
      {"Error opening output\nConversion failed!\n", "转换失败"},
      {"/nope/zhibo_1.mp4: No such file or directory\n", "输入/输出 的 文件/路径 不存在"},
      {"conversion failed", "conversion failed"},  // case-sensitive
      {"frame=  10 fps=0.0 q=-1.0 size=     0kB    \r", "frame=  10 fps=0.0 q=-1.0 size=     0kB    "},
      {"line one\nline two\n", "line one\r\nline two\r\n"},
      {"ends with a blank \n", "ends with a blank \n"},  // blank + CR after LF became CR LF
      {"before\0after", "before"},
      {std::string("\0rest", 5), ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(chunk_status_line(c.chunk), c.line) << c.chunk;
}

TEST(ChunkStatusLine, AMarkerSplitAcrossTwoChunksIsNotFound) {
  EXPECT_EQ(chunk_status_line("video:1kB muxing over"), "video:1kB muxing over");
  EXPECT_EQ(chunk_status_line("head: 0.1%"), "head: 0.1%");
}

// A warning ffmpeg writes for every packet is shown once, with its count at the end; the lines
// around it, progress lines alike but for their numbers, and a line cut between two reads, pass.
TEST(RepeatFolder, AWarningRepeatedWithOtherNumbersIsShownOnceWithItsCount) {
  const std::string dts =
      "[mp4 @ 0x55d1c2a0] Non-monotonous DTS in output stream 0:1; previous: 1200, current: 1180; changing to 1201.\n";
  RepeatFolder folder;
  std::string shown = folder.fold("  Stream #0:0 -> #0:0 (copy)\n  Stream #0:1 -> #0:1 (copy)\n");
  shown += folder.fold(dts);
  std::string flood;
  for (int i = 0; i < 5000; ++i)
    flood += "[mp4 @ 0x55d1c2a0] Non-monotonous DTS in output stream 0:1; previous: " + std::to_string(2000 + i) +
             ", current: " + std::to_string(1990 + i) + "; changing to " + std::to_string(2001 + i) + ".\n" +
             (i % 1000 == 0 ? "frame=  " + std::to_string(i) + " fps=0.0 size=  1kB time=00:00:01.00\r" : "");
  // Cut anywhere, even inside a line: the pieces come back whole.
  for (std::size_t at = 0; at < flood.size(); at += 1023) shown += folder.fold(std::string_view(flood).substr(at, 1023));
  shown += folder.fold("[hls @ 0x1] Opening 'http://h/s1.ts' for reading\nvideo:1kB muxing overhead: 1%");
  shown += folder.flush();
  EXPECT_EQ(shown,
            "  Stream #0:0 -> #0:0 (copy)\n  Stream #0:1 -> #0:1 (copy)\n" + dts +
                "frame=  0 fps=0.0 size=  1kB time=00:00:01.00\rframe=  1000 fps=0.0 size=  1kB time=00:00:01.00\r"
                "frame=  2000 fps=0.0 size=  1kB time=00:00:01.00\rframe=  3000 fps=0.0 size=  1kB time=00:00:01.00\r"
                "frame=  4000 fps=0.0 size=  1kB time=00:00:01.00\r"
                "[hls @ 0x1] Opening 'http://h/s1.ts' for reading\nvideo:1kB muxing overhead: 1%\n" +
                dts.substr(0, dts.size() - 1) + "（此行又出现 5000 次）\n");
  EXPECT_EQ(chunk_status_line(shown), "任务完成");  // the end is still read as the end
}

TEST(OutputDecoder, Utf8ElseGbkWithoutSplittingACharacter) {
  const std::string utf8 = "保存到 视频.mp4";
  const std::string gbk = platform::utf8_to_gbk(utf8);
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t cut;
  };
  // Every place a two- or three-byte character can be cut at gives the whole text back.
  for (const Case& c : {Case{"utf-8", utf8, 0}, Case{"gbk", gbk, 0}}) {
    for (std::size_t cut = 0; cut <= c.bytes.size(); ++cut) {
      OutputDecoder d;
      std::string text = d.decode(c.bytes.substr(0, cut));
      text += d.decode(c.bytes.substr(cut));
      text += d.flush();
      EXPECT_EQ(text, utf8) << c.name << " cut at " << cut;
    }
  }
}

TEST(OutputDecoder, KeepsBackOnlyTheUnfinishedCharacter) {
  OutputDecoder d;
  const std::string zhong = "中";  // E4 B8 AD
  EXPECT_EQ(d.decode("abc" + zhong.substr(0, 2)), "abc");
  EXPECT_EQ(d.pending(), 2u);
  EXPECT_EQ(d.decode(zhong.substr(2) + "d"), zhong + "d");
  EXPECT_EQ(d.pending(), 0u);
  // A lone byte that can never finish a character is shown at the end, not lost.
  EXPECT_EQ(d.decode("x\x81"), "x");
  EXPECT_FALSE(d.flush().empty());
}

}  // namespace
}  // namespace qz::record
