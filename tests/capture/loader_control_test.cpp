#include <gtest/gtest.h>

#include <filesystem>

#include "app/logs.h"
#include "capture/browser_control.h"
#include "capture/loader.h"
#include "platform/text_codec.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_desktop.h"

namespace qz::capture {
namespace {

struct LoaderFixture : ::testing::Test {
  test::TempFolder folder;
  app::WindowModel window;
  ui::HeadlessDesktop desktop;
  app::Context ctx{window, desktop, folder.str(), {}, {}};
  Automation component;

  std::string error_log() { return platform::gbk_to_utf8(test::read_bytes(folder / "logs/error.log")); }
};

TEST_F(LoaderFixture, MatchingVersionShowsNothingAndReportsTheComponentVersion) {
  EXPECT_EQ(component.form_common_api("owlform", "version", ""), "5.5.32");
  EXPECT_EQ(component.form_common_api("owlform", "other", ""), "");
  EXPECT_TRUE(load_automation(ctx, component, true));
  EXPECT_TRUE(desktop.shown_boxes().empty());
  EXPECT_EQ(error_log(), "");
}

TEST_F(LoaderFixture, VersionMismatchShowsTheTimedStopBoxAndRefuses) {
  EXPECT_FALSE(load_automation(ctx, component, true, "9.9.9"));
  const auto boxes = desktop.shown_boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "猫头鹰填表");
  EXPECT_EQ(boxes[0].text, "\r\nowlform.dll版本不匹配！！！\r\n owlform.dll 版本号：5.5.32\r\n模块版本号：9.9.9");
  EXPECT_EQ(boxes[0].icon, app::MessageIcon::Stop);
  EXPECT_EQ(boxes[0].timeout_ms, 6000);
  EXPECT_FALSE(boxes[0].owned_by_window);
}

TEST_F(LoaderFixture, EachStartWithoutAdministratorRightsAddsOneEntryWithoutLineBreak) {
  EXPECT_TRUE(load_automation(ctx, component, false));
  EXPECT_TRUE(load_automation(ctx, component, false));
  const std::string log = error_log();
  const std::string tail = "\r\n程序未以管理员权限运行，可能会导致部分功能失效，请留意.";
  ASSERT_EQ(log.size(), 2 * (std::string("运行时间：2024-01-01 00:00:00").size() + tail.size())) << log;
  EXPECT_EQ(log.rfind("运行时间：", 0), 0u);
  EXPECT_NE(log.find(tail + "运行时间："), std::string::npos);  // the entries run on
  EXPECT_TRUE(desktop.shown_boxes().empty());
}

struct NoBrowserFixture : ::testing::Test {
  test::TempFolder folder;
  app::WindowModel window;
  ui::HeadlessDesktop desktop;
  app::Context ctx{window, desktop, folder.str(), {}, {}};
  Automation component{AutomationOptions{{}, true, 9222, test::u8(folder / "no such browser.exe")}};
  CaptureState state;
  StreamCapture capture{ctx, component, state};
  BrowserControl control{ctx, component, state, capture};
  const std::string message =
      "请下载谷歌浏览器后再使用本软件。官网地址：https://www.google.cn/chrome/\r\n稍后会自动打开网址，请手动安装";
};

TEST_F(NoBrowserFixture, EveryLiveRoomPressRetriesThenShowsTheMessageAndTheDownloadPage) {
  control.browser_initialisation();
  ASSERT_EQ(desktop.shown_boxes().size(), 1u);
  EXPECT_EQ(desktop.shown_boxes()[0].text, message);
  EXPECT_EQ(desktop.shown_boxes()[0].caption, "信息：");
  control.open_live_room();
  control.open_live_room();
  EXPECT_EQ(desktop.shown_boxes().size(), 3u);
  EXPECT_EQ(desktop.opened_addresses(),
            std::vector<std::string>(3, "https://www.google.cn/chrome/"));
  EXPECT_EQ(state.browser_ready, 0);
}

TEST_F(NoBrowserFixture, ManualInitialisationTakesOnlyARunnableProgram) {
  // Made runnable the way each system knows a program: the execute bit, the .exe that starts "MZ".
  const auto program = folder / "浏览器 程序.exe";
  test::write_bytes(program, "MZ\x90\x00");
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  const auto text_file = folder / "readme.exe";
  test::write_bytes(text_file, "not a program");
  struct Case {
    std::string typed;
    const char* shown;
  } cases[] = {
      {"", "假"},  // like the automatic one (nothing found here), without the box
      {test::u8(program), "真"},
      {test::u8(text_file), "假"},
      {std::string(QZ_SOURCE_DIR) + "/CMakeLists.txt", "假"},
      {std::string(QZ_SOURCE_DIR), "假"},  // a folder is no browser
  };
  for (const Case& c : cases) {
    window.set_status_part(1, "");
    window.set_text("编辑框_google", c.typed);
    control.manual_initialisation();
    ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return !window.status_part(1).empty(); }, std::chrono::seconds(10)));
    EXPECT_EQ(window.status_part(1), c.shown) << c.typed;
  }
  EXPECT_TRUE(desktop.shown_boxes().empty());
  EXPECT_TRUE(desktop.opened_addresses().empty());
}

TEST_F(NoBrowserFixture, ConnectWithNothingListeningChangesNothing) {
  component.form_global_init("", nullptr);
  EXPECT_FALSE(component.form_connect_started());
  EXPECT_EQ(component.form_page_isactive(0), 0);
  EXPECT_EQ(component.form_get_page_url(1), "");
  EXPECT_EQ(component.form_ajax_lacal(1, "http://127.0.0.1:1/"), "");
}

}  // namespace
}  // namespace qz::capture
