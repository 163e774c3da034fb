#include "app/settings.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qz::app
