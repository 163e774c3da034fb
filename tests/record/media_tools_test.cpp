#include "record/media_tools.h"

#include <gtest/gtest.h>

#include "record/display_writer.h"
#include "record/preview.h"
#include "record/recording_jobs.h"
#include "platform/text_codec.h"
#include "support/temp_folder.h"

namespace qz::record {
namespace {

TEST(FfmpegCommand, ArgumentsInOrder) {
  const ToolCommand live = ffmpeg_copy_command("C:\\q\\ffm.exe", "https://cdn.test/a.flv?x=1&y=2", 1111,
                                               "C:\\my videos\\zhibo_1.mp4");
  EXPECT_EQ(live.program, "C:\\q\\ffm.exe");
  const std::vector<std::string> args{"-hide_banner", "-i", "https://cdn.test/a.flv?x=1&y=2", "-c", "copy",
                                      "-f", "mpegts", "-y", "udp://127.0.0.1:1111", "-c", "copy",
                                      "-bsf:a", "aac_adtstoasc", "-movflags",
                                      "+frag_keyframe+empty_moov+default_base_moof",
                                      "-flush_packets", "1", "C:\\my videos\\zhibo_1.mp4"};
  EXPECT_EQ(live.args, args);

  const ToolCommand replay = ffmpeg_copy_command("ffm.exe", "http://h/r.m3u8", 1112, "-odd.mp4");
  EXPECT_EQ(replay.args[8], "udp://127.0.0.1:1112");
  EXPECT_EQ(replay.args.back(), "file:-odd.mp4");
}

TEST(StreamAddress, OnlyPlainStreamAddressesPass) {
  for (const std::string ok : {"http://127.0.0.1:8080/live.flv", "https://cdn.test/a.m3u8?t=1&s=x y",
                               "rtmp://push.test/app/key", "RTMPS://h/x", "HTTP://H/x"})
    EXPECT_EQ(check_stream_address(ok), "") << ok;
  for (const std::string bad :
       {"", "-i", "-f lavfi -i x", "ftp://h/x", "file:///etc/passwd", "/tmp/x.flv", "http:/x",
        "http://h/x\" -y -i x -c copy C:\\Windows\\win.ini \"", "http://h/x\r\n-y", "http://h/\tx",
        "concat:http://a|http://b", "http://"})
    EXPECT_NE(check_stream_address(bad), "") << bad;
  EXPECT_EQ(check_stream_address(""), "下载地址为空，没有开始下载");
}

TEST(DownloadFiles, FirstFreeNumberPerPrefix) {
  test::TempFolder folder;
  const std::string f = folder.str();
  auto base = [&](const char* prefix) { return test::u8(test::from_u8(first_free_file_base(f, prefix)).filename()); };
  EXPECT_EQ(base("zhibo_"), "zhibo_1");
  test::write_bytes(folder / "zhibo_2.mp4", "x");
  EXPECT_EQ(base("zhibo_"), "zhibo_1");  // only zhibo_2 present
  test::write_bytes(folder / "zhibo_1.mp4", "x");
  EXPECT_EQ(base("zhibo_"), "zhibo_3");
  EXPECT_EQ(base("huifang_"), "huifang_1");  // live files do not count
  test::write_bytes(folder / "huifang_1.mp4", "x");
  EXPECT_EQ(base("huifang_"), "huifang_2");
  EXPECT_EQ(first_free_file_base(f, "zhibo_"), platform::join_path(f, "zhibo_3"));
}

TEST(DisplayWriter, EmptiesTheBoxPast2000GbkBytes) {
  struct Case {
    std::string before;
    bool cleared;
  };
  const Case cases[] = {
      {std::string(2000, 'a'), false},
      {std::string(2001, 'a'), true},
      {[] { std::string s; for (int i = 0; i < 1000; ++i) s += "中"; return s; }(), false},  // 2000 GBK bytes, 3000 UTF-8
      {[] { std::string s; for (int i = 0; i < 1000; ++i) s += "中"; return s + "a"; }(), true},
      // GBK has no Thai: each letter becomes one "?", so 1500 of them are 1500 bytes.
      {[] { std::string s; for (int i = 0; i < 1500; ++i) s += "ก"; return s; }(), false},
  };
  for (const Case& c : cases) {
    app::WindowModel window;
    window.set_text(kDisplayBox, c.before);
    write_display(window, "任务完成");
    EXPECT_TRUE(window.text(kDisplayBox) == (c.cleared ? std::string() : c.before) + "任务完成\r\n")
        << "box of " << c.before.size() << " UTF-8 bytes, cleared expected: " << c.cleared;
  }
}

TEST(Preview, BatchTextForEveryJobKindAndSize) {
  struct Case {
    int kind;
    std::string width, height, text;
  };
  const std::string head = "set SDL_AUDIODRIVER=directsound\r\nffplay -x ";
  const Case cases[] = {
      {0, "360", "640", head + "360 -y 640 udp://127.0.0.1:1112"},
      {1, "360", "640", head + "360 -y 640 udp://127.0.0.1:1111"},
      {2, "360", "640", head + "360 -y 640 udp://127.0.0.1:1112"},
      {1, "640", "360", head + "640 -y 360 udp://127.0.0.1:1111"},
      {7, "1280", "720", head + "1280 -y 720 udp://127.0.0.1:1112"},
      {1, "640 & del x", "360", head + "360 -y 360 udp://127.0.0.1:1111"},
      {1, "", "-1", head + "360 -y 640 udp://127.0.0.1:1111"},
      {1, "800", "600\r\ncalc", head + "800 -y 640 udp://127.0.0.1:1111"},
      {2, "١٢", "999999", head + "360 -y 640 udp://127.0.0.1:1112"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(preview_batch_text(c.kind, c.width, c.height), c.text) << c.kind << " " << c.width << " " << c.height;
}

}  // namespace
}  // namespace qz::record
