// The names of a live recording's parts and the lines that name its gaps.
#include "record/live_parts.h"

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace qz::record {
namespace {

TEST(LiveParts, PartNamesAndTheNextFreePart) {
  test::TempFolder folder;
  const std::string base = test::u8(folder / "zhibo_1");
  struct Case {
    int part;
    const char* name;
  };
  for (const Case& c : {Case{1, "zhibo_1.mp4"}, Case{2, "zhibo_1_2.mp4"}, Case{12, "zhibo_1_12.mp4"}})
    EXPECT_EQ(test::u8(test::from_u8(part_file(base, c.part)).filename()), c.name);
  EXPECT_EQ(next_free_part(base, 1), 2);
  // A part never overwrites: a file left from before is skipped.
  test::write_bytes(folder / "zhibo_1_2.mp4", "x");
  test::write_bytes(folder / "zhibo_1_3.mp4", "x");
  EXPECT_EQ(next_free_part(base, 1), 4);
  EXPECT_EQ(next_free_part(base, 5), 6);
}

TEST(LiveParts, GapTexts) {
  const platform::LocalTime at{2026, 3, 5, 12, 3, 5};
  const platform::LocalTime morning{2026, 3, 5, 9, 0, 7};
  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {dropped_text(at), "直播中断（12:03:05），正在重新连接……"},
      {dropped_text(morning), "直播中断（09:00:07），正在重新连接……"},
      {stalled_text(30, at), "已有 30 秒没有收到直播数据（12:03:05），正在重新连接……"},
      {reconnected_text(3.4, "D:\\down\\zhibo_1_2.mp4"), "已重新连接（中断 3 秒），继续保存到：D:\\down\\zhibo_1_2.mp4"},
      {reconnected_text(-0.2, "x.mp4"), "已重新连接（中断 0 秒），继续保存到：x.mp4"},
      {gave_up_text(180), "重新连接 180 秒仍未成功，录制结束"},
      {parts_text({{"D:\\down\\zhibo_1.mp4", 12.4}, {"/home/u/down/zhibo_1_2.mp4", 3723}}),
       "共 2 段：zhibo_1.mp4（0:12）、zhibo_1_2.mp4（1:02:03）"},
      {parts_text({{"zhibo_3.mp4", 59.6}}), "共 1 段：zhibo_3.mp4（1:00）"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, c.expected);
}

TEST(LiveParts, TheTimeFfmpegReports) {
  struct Case {
    const char* line;
    double seconds;
  };
  const Case cases[] = {
      {"frame=  250 fps= 25 q=-1.0 size=     512kB time=00:00:10.04 bitrate= 417.6kbits/s speed=   1x", 10.04},
      {"size=1kB time=01:02:03.50 bitrate=1\r\nsize=2kB time=01:02:04.00 bitrate=1", 3724.0},  // the last one
      {"Input #0, flv, from 'http://h/a.flv':", -1},
      {"time=N/A bitrate=N/A", -1},
  };
  for (const Case& c : cases) EXPECT_NEAR(reported_time(c.line), c.seconds, 0.001) << c.line;
}

}  // namespace
}  // namespace qz::record
