#include "app/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/text_codec.h"

#include "support/temp_folder.h"
#include "ui/headless/headless_desktop.h"

namespace qz::app {
namespace {

using test::read_bytes;
using test::TempFolder;
using test::write_bytes;

struct SettingsFixture : ::testing::Test {
  TempFolder folder;
  WindowModel window;
  ui::HeadlessDesktop desktop;
  Context ctx{window, desktop, folder.str(), {}, {}};

  std::filesystem::path data(const std::string& name) { return folder / ("data/" + name); }
};

TEST(SettingsCoding, EncodesAndDecodesInTheStatedOrder) {
  struct Case {
    std::string text, stored, loaded_back;
  } cases[] = {
      {"plain", "plain", "plain"},
      {"line1\r\nline2\r\n", "line1><br><line2><br><", "line1\r\nline2\r\n"},
      {"\"quoted\"", "#引号quoted#引号", "\"quoted\""},
      // Texts that already hold the stored forms come back changed, as the format has always done.
      {"a><br><b", "a><br><b", "a\r\nb"},
      {"say #引号", "say #引号", "say \""},
      {"lone\nLF", "lone\nLF", "lone\nLF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(encode_setting(c.text), c.stored) << c.text;
    EXPECT_EQ(decode_setting(c.stored), c.loaded_back) << c.text;
  }
}

TEST_F(SettingsFixture, SaveWritesGoldenBytesAndLoadRestoresEveryBox) {
  window.set_text("编辑框_url", "https://live.example/room?id=1");
  window.set_text("编辑框_显示", "never saved");
  window.set_text("编辑框_google", "\"C:\\Program Files\\chrome.exe\"");
  window.set_text("编辑框_下载目录", "D:\\录像");
  EXPECT_EQ(save_edit_boxes(ctx, "", kDisplayBox), 8);

  // The same bytes on both systems: a file written by one program is read by the other.
  const std::string golden = read_bytes(std::filesystem::path(QZ_SOURCE_DIR) / "tests/app/golden/setsoft.ini");
  EXPECT_EQ(read_bytes(data("setsoft.ini")), golden);

  WindowModel fresh;
  Context other{fresh, desktop, folder.str(), {}, {}};
  EXPECT_EQ(load_edit_boxes(other, ""), 8);
  EXPECT_EQ(fresh.text("编辑框_url"), "https://live.example/room?id=1");
  EXPECT_EQ(fresh.text("编辑框_google"), "\"C:\\Program Files\\chrome.exe\"");
  EXPECT_EQ(fresh.text("编辑框_下载目录"), "D:\\录像");
  EXPECT_EQ(fresh.text("编辑框_显示"), "");
  EXPECT_EQ(fresh.text("编辑框_宽度"), "360");
}

TEST_F(SettingsFixture, EmptyStoredValueLeavesTheBoxAsItIs) {
  window.set_text("编辑框_宽度", "");
  save_edit_boxes(ctx, "", kDisplayBox);
  WindowModel fresh;
  Context other{fresh, desktop, folder.str(), {}, {}};
  load_edit_boxes(other, "");
  EXPECT_EQ(fresh.text("编辑框_宽度"), "360");
}

TEST_F(SettingsFixture, MultiLineTextSurvivesARoundTrip) {
  window.set_text("编辑框_url", "one\r\ntwo\r\n\"three\"");
  save_edit_boxes(ctx, "", kDisplayBox);
  WindowModel fresh;
  Context other{fresh, desktop, folder.str(), {}, {}};
  load_edit_boxes(other, "");
  EXPECT_EQ(fresh.text("编辑框_url"), "one\r\ntwo\r\n\"three\"");
}

TEST_F(SettingsFixture, LongValuesAreCutAtLoad) {
  // 10,239 bytes survive; a 1 MiB value is cut, not a crash. The cut never splits a character.
  const std::string key = "\xB1\xE0\xBC\xAD\xBF\xF2_url";  // 编辑框_url in GBK
  for (std::size_t size : {std::size_t{10239}, std::size_t{10240}, std::size_t{1} << 20}) {
    write_bytes(data("setsoft.ini"), "[\xB1\xE0\xBC\xAD\xBF\xF2]\r\n" + key + "=" + std::string(size, 'x') + "\r\n");
    load_edit_boxes(ctx, "");
    EXPECT_EQ(window.text("编辑框_url").size(), std::min<std::size_t>(size, 10239));
  }
  write_bytes(data("setsoft.ini"),
              "[\xB1\xE0\xBC\xAD\xBF\xF2]\r\n" + key + "=" + std::string(5200, 'x') + std::string(5200, '\xB0') + "\r\n");
  load_edit_boxes(ctx, "");
  EXPECT_TRUE(window.text("编辑框_url").find("\xEF\xBF\xBD") == std::string::npos);
}

TEST_F(SettingsFixture, JunkAndInvalidGbkDoNotCrash) {
  std::string junk = "[\xB1\xE0\xBC\xAD\xBF\xF2]\r\n\xB1\xE0\xBC\xAD\xBF\xF2_url=\xFF\xFF\x80 bad\r\n";
  for (int i = 0; i < 2000; ++i) junk += static_cast<char>(i * 37 % 256);
  write_bytes(data("setsoft.ini"), junk);
  EXPECT_EQ(load_edit_boxes(ctx, ""), 8);
  EXPECT_NE(window.text("编辑框_url").find("bad"), std::string::npos);
}

TEST_F(SettingsFixture, SaveSettingsButtonCreatesDataAndConfirms) {
  ASSERT_FALSE(std::filesystem::exists(folder / "data"));
  on_save_settings_clicked(ctx);
  EXPECT_TRUE(std::filesystem::exists(data("setsoft.ini")));
  const auto boxes = desktop.shown_boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "设置保存成功");
  EXPECT_EQ(boxes[0].caption, "信息：");
}

TEST_F(SettingsFixture, CloseTimeSaveWithoutDataFolderWritesNothing) {
  save_edit_boxes(ctx, main_settings_path(ctx), kDisplayBox);
  EXPECT_FALSE(std::filesystem::exists(folder / "data"));
}

TEST_F(SettingsFixture, MissingFileLeavesBoxesUnchanged) {
  window.set_text("编辑框_url", "kept");
  load_edit_boxes(ctx, main_settings_path(ctx));
  EXPECT_EQ(window.text("编辑框_url"), "kept");
}

// Text GBK cannot hold is never saved as "?": the stored value stays, the display box names the
// box and says why, and a download folder that is the computed default is computed again at the
// next start instead of coming back wrong.
TEST_F(SettingsFixture, TextGbkCannotHoldIsNeverSavedLossy) {
  struct Case {
    const char* box;
    std::string value;
    bool saved;
    std::string loaded_next_start;
    const char* said;
  } cases[] = {
      {"编辑框_url", "https://live.example/민수", false, "https://live.example/old", "「琼枝直播分享链接」没有保存"},
      {"编辑框_google", "C:\\Program Files\\Kullanıcı\\şğ\\chrome.exe", false, "old-browser", "「浏览器路径」没有保存"},
      {"编辑框_回放url", "https://cdn.example/😀.m3u8", false, "https://cdn.example/old.m3u8", "「回放真实地址」没有保存"},
      {"编辑框_下载目录", "D:\\录像\\ア é ü", true, "D:\\录像\\ア é ü", nullptr},
      {"编辑框_下载目录", "C:\\Users\\민수\\videos", false, "D:\\old", "已保留原来保存的内容"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    write_bytes(data("setsoft.ini"),
                platform::utf8_to_gbk("[编辑框]\r\n编辑框_url=https://live.example/old\r\n编辑框_google=old-browser\r\n"
                                      "编辑框_回放url=https://cdn.example/old.m3u8\r\n编辑框_下载目录=D:\\old\r\n"));
    WindowModel model;
    Context here{model, desktop, folder.str(), {}, {}};
    model.set_text(c.box, c.value);
    const SettingsSave outcome = save_settings(here, "", kDisplayBox);
    EXPECT_TRUE(outcome.written);
    EXPECT_EQ(outcome.unsaved_boxes.empty(), c.saved);
    EXPECT_EQ(read_bytes(data("setsoft.ini")).find('?'), std::string::npos);
    if (c.said) EXPECT_NE(model.text(kDisplayBox).find(c.said), std::string::npos) << model.text(kDisplayBox);
    else EXPECT_EQ(model.text(kDisplayBox), "");

    WindowModel next;
    Context next_start{next, desktop, folder.str(), {}, {}};
    load_edit_boxes(next_start, "");
    EXPECT_EQ(next.text(c.box), c.loaded_next_start);
  }

  // The computed default that GBK cannot hold is cleared, so the next start computes it again.
  WindowModel model;
  Context here{model, desktop, platform::join_path(folder.str(), "민수"), {}, {}};
  model.set_text(kDownloadFolderBox, here.path("down"));
  save_settings(here, platform::join_path(folder.str(), "data/setsoft.ini"), kDisplayBox);
  EXPECT_NE(model.text(kDisplayBox).find("下次启动时重新使用默认目录"), std::string::npos);
  WindowModel next;
  next.set_text(kDownloadFolderBox, "recomputed default");
  Context next_start{next, desktop, folder.str(), {}, {}};
  load_edit_boxes(next_start, "");
  EXPECT_EQ(next.text(kDownloadFolderBox), "recomputed default");
}

TEST_F(SettingsFixture, TheButtonSaysWhenSomethingWasNotSaved) {
  window.set_text(kShareLinkBox, "https://live.example/민수");
  on_save_settings_clicked(ctx);
  ASSERT_EQ(desktop.shown_boxes().size(), 1u);
  EXPECT_EQ(desktop.shown_boxes()[0].text, "部分设置没有保存，原因见显示框");
}

#ifndef _WIN32
// A save that fails part way (the disk fills up while it is written) leaves the old file whole.
// A small file system of the test's own; tests run as root, which ignores file permissions.
TEST_F(SettingsFixture, ASaveThatFailsPartWayLeavesTheOldFileWhole) {
  const auto small = folder / "small";
  std::filesystem::create_directories(small);
  if (std::system(("mount -t tmpfs -o size=16k tmpfs '" + test::u8(small) + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "cannot mount a small file system here";
  const std::string path = test::u8(small / "setsoft.ini");
  const std::string old = platform::utf8_to_gbk("[编辑框]\r\n编辑框_url=https://live.example/old\r\n");
  write_bytes(small / "setsoft.ini", old);
  // Fill the rest, then ask for a save bigger than what is left.
  std::string filler(4096, 'x');
  while (platform::write_file(test::u8(small / ("fill" + std::to_string(std::rand()))), filler)) {
  }
  window.set_text(kShareLinkBox, std::string(6000, 'n'));
  const SettingsSave outcome = save_settings(ctx, path, kDisplayBox);
  const std::string after = read_bytes(small / "setsoft.ini");
  const bool leftover = std::filesystem::exists(small / "setsoft.ini.tmp");
  std::system(("umount '" + test::u8(small) + "'").c_str());
  EXPECT_FALSE(outcome.written);
  EXPECT_EQ(after, old);
  EXPECT_FALSE(leftover);
}
#endif

}  // namespace
}  // namespace qz::app
