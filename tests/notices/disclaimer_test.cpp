#include "notices/disclaimer.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/application.h"
#include "notices/install.h"
#include "platform/paths.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_desktop.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qz::notices {
namespace {

using app::MessageReply;

std::string golden_marker() {
  return test::read_bytes(std::filesystem::path(QZ_SOURCE_DIR) / "tests/notices/golden/agrx.dll.gbk");
}

struct DisclaimerFixture : ::testing::Test {
  test::TempFolder documents{"我的 文档"};
  ui::HeadlessDesktop desktop;
  std::filesystem::path marker() const { return documents / "agrx.dll"; }
  void start() { show_disclaimer_once(desktop, documents.str()); }
};

TEST_F(DisclaimerFixture, FirstStartShowsTheBoxAndOkWritesTheMarkerByteForByte) {
  desktop.script_replies({MessageReply::Ok});
  start();
  const auto boxes = desktop.shown_boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "免责声明");
  EXPECT_EQ(boxes[0].buttons, app::MessageButtons::OkCancel);
  EXPECT_FALSE(boxes[0].owned_by_window);
  EXPECT_EQ(boxes[0].text.rfind("免责声明：\r\n  1、本软件是青禾", 0), 0u);
  EXPECT_TRUE(boxes[0].text.ends_with("所有资源。\r\n本信息仅弹出一次。"));
  EXPECT_EQ(std::count(boxes[0].text.begin(), boxes[0].text.end(), '\n'), 8);

  ASSERT_TRUE(std::filesystem::exists(marker()));
  EXPECT_EQ(test::read_bytes(marker()), golden_marker());
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(marker().wstring().c_str());
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
#endif

  // The second start shows nothing and rewrites the marker with the same bytes.
  start();
  EXPECT_EQ(desktop.shown_boxes().size(), 1u);
  EXPECT_EQ(test::read_bytes(marker()), golden_marker());
}

TEST_F(DisclaimerFixture, CancelWritesNothingAndTheBoxComesAgain) {
  desktop.script_replies({MessageReply::Cancel});
  start();
  EXPECT_FALSE(std::filesystem::exists(marker()));
  start();  // answered Ok
  EXPECT_EQ(desktop.shown_boxes().size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(marker()));
}

TEST_F(DisclaimerFixture, AMarkerOfAnyContentCountsAsAcceptance) {
  for (const std::string content : {std::string(), std::string("not a library\0x", 15)}) {
    test::write_bytes(marker(), content);
    start();
    EXPECT_TRUE(desktop.shown_boxes().empty());
    EXPECT_EQ(test::read_bytes(marker()), golden_marker());
  }
  // A deleted marker brings the box back.
  std::filesystem::remove(marker());
  desktop.script_replies({MessageReply::Cancel});
  start();
  EXPECT_EQ(desktop.shown_boxes().size(), 1u);
}

TEST(DisclaimerMarkerPath, UnknownDocumentsFolderMeansTheCurrentDirectory) {
  EXPECT_EQ(disclaimer_marker_path(""), "agrx.dll");
  EXPECT_EQ(disclaimer_marker_path(platform::join_path("docs", "")), platform::join_path("docs", "agrx.dll"));
}

// The start-up hook uses the user's real Documents folder: on Linux a home of the test's own, under
// Wine the prefix's documents folder (cleaned up afterwards, whatever was there before is restored).
TEST(DisclaimerHook, StartUpShowsTheBoxOnceForTheUsersDocumentsFolder) {
  test::TempFolder program;
#ifndef _WIN32
  test::TempFolder home{"家 目录"};
  std::filesystem::create_directories(home / "Documents");
  const std::string old_home = std::getenv("HOME") ? std::getenv("HOME") : "";
  const char* old_config = std::getenv("XDG_CONFIG_HOME");
  const std::optional<std::string> saved_config = old_config ? std::optional<std::string>(old_config) : std::nullopt;
  ::setenv("HOME", home.str().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (home.str() + "/.config").c_str(), 1);
#endif
  const std::string marker = disclaimer_marker_path(platform::documents_folder());
  const std::optional<std::string> saved = platform::read_file(marker);
  platform::remove_file(marker);

  app::WindowModel window;
  ui::HeadlessDesktop desktop;
  {
    app::Application app(window, desktop, program.str());
    install(app);
    desktop.script_replies({MessageReply::Ok});
    app.subsystem("notices")->startup_boxes();
    app.subsystem("notices")->startup_boxes();
  }
  EXPECT_EQ(desktop.shown_boxes().size(), 1u);
  EXPECT_EQ(platform::read_file(marker), golden_marker());
#ifndef _WIN32
  EXPECT_EQ(marker, home.str() + "/Documents/agrx.dll");
#endif

  platform::remove_file(marker);
  if (saved && platform::write_file(marker, *saved)) platform::set_hidden(marker);
#ifndef _WIN32
  ::setenv("HOME", old_home.c_str(), 1);
  if (saved_config) ::setenv("XDG_CONFIG_HOME", saved_config->c_str(), 1);
  else ::unsetenv("XDG_CONFIG_HOME");
#endif
}

}  // namespace
}  // namespace qz::notices
