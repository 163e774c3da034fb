#include "app/application.h"

#include <gtest/gtest.h>

#include "app/controls.h"
#include "app/settings.h"
#include "platform/text_codec.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_desktop.h"

namespace qz::app {
namespace {

using namespace std::chrono_literals;

struct ShellFixture : ::testing::Test {
  test::TempFolder folder;
  WindowModel window;
  ui::HeadlessDesktop desktop;

  void write_main_settings(const std::string& box, const std::string& value) {
    test::write_bytes(folder / "data/mvx.ini",
                      platform::utf8_to_gbk("[编辑框]\r\n" + box + "=" + value + "\r\n"));
  }
};

TEST_F(ShellFixture, CreatedHandlerSetsCaptionDownloadFolderAndLoadsSettings) {
  window.set_caption("anything");
  {
    Application app(window, desktop, folder.str());
    desktop.run_on_ui([&] { app.window_created(); });
    EXPECT_EQ(window.caption(), "琼枝直播下载v2.7");
    EXPECT_EQ(window.text("编辑框_下载目录"), platform::join_path(folder.str(), "down"));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "down"));
    EXPECT_EQ(app.context().ffmpeg_path, platform::join_path(folder.str(), "ffm.exe"));
  }
  // The provisioning thread's first step loads setsoft.ini, which makes the data folder.
  EXPECT_TRUE(std::filesystem::is_directory(folder / "data"));
}

TEST_F(ShellFixture, StoredDownloadFolderReplacesTheDefault) {
  write_main_settings("编辑框_下载目录", "E:\\videos");
  Application app(window, desktop, folder.str());
  desktop.run_on_ui([&] { app.window_created(); });
  EXPECT_EQ(window.text("编辑框_下载目录"), "E:\\videos");
}

TEST_F(ShellFixture, StartupStepWritesItsTwoRunLogEntriesAfterOneSecond) {
  Application app(window, desktop, folder.str());
  std::mutex order_mutex;  // the hooks run on the UI thread, the test reads on its own
  std::vector<std::string> order;
  const auto note = [&](const char* what) {
    std::lock_guard lock(order_mutex);
    order.push_back(what);
  };
  app.hooks().show_disclaimer = [&] { note("disclaimer"); };
  app.hooks().start_service_notices = [&] { note("notices"); };
  const auto opened = std::chrono::steady_clock::now();
  desktop.open_window(app);
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] {
    std::lock_guard lock(order_mutex);
    return order.size() == 2;
  }, 10s));
  std::lock_guard lock(order_mutex);
  EXPECT_GE(std::chrono::steady_clock::now() - opened, 900ms);
  EXPECT_EQ(order, (std::vector<std::string>{"disclaimer", "notices"}));

  std::string log;
  for (const auto& e : std::filesystem::directory_iterator(folder / "data"))
    if (test::u8(e.path().filename()).rfind("运行日志", 0) == 0) log = test::read_bytes(e.path());
  const std::string text = platform::gbk_to_utf8(log);
  const auto second = text.find("启动窗口线程");
  const auto first = text.find("启动窗口创建完毕");
  ASSERT_NE(second, std::string::npos);
  ASSERT_NE(first, std::string::npos);
  EXPECT_LT(second, first);  // newest line first
}

TEST_F(ShellFixture, ClosingSavesEveryBoxButTheDisplayAndRestartRestoresThem) {
  {
    Application app(window, desktop, folder.str());
    std::vector<std::string> order;
    app.hooks().stop_capture = [&] { order.push_back("capture"); };
    app.hooks().stop_recording_tools = [&] { order.push_back("tools"); };
    desktop.run_on_ui([&] { app.window_created(); });
    // The close-time save needs the data folder that the provisioning thread's load makes.
    ASSERT_TRUE(ui::HeadlessDesktop::wait_until(
        [&] { return std::filesystem::exists(folder / "data"); }, 10s));
    window.set_text_from_ui("编辑框_url", "https://share.example/abc");
    window.set_text("编辑框_直播url", "https://cdn.example/live.flv");
    window.set_text("编辑框_显示", "status");
    desktop.run_on_ui([&] { app.window_closing(); });
    EXPECT_EQ(order, (std::vector<std::string>{"capture", "tools"}));
  }
  WindowModel restarted;
  Application app(restarted, desktop, folder.str());
  desktop.run_on_ui([&] { app.window_created(); });
  EXPECT_EQ(restarted.text("编辑框_url"), "https://share.example/abc");
  EXPECT_EQ(restarted.text("编辑框_直播url"), "https://cdn.example/live.flv");
  EXPECT_EQ(restarted.text("编辑框_显示"), "");
}

TEST_F(ShellFixture, ButtonsOfTheShell) {
  Application app(window, desktop, folder.str());
  desktop.run_on_ui([&] { window.click("按钮1"); });  // "浏览" does nothing
  EXPECT_TRUE(desktop.shown_boxes().empty());
  desktop.run_on_ui([&] { window.click("超级链接框1"); });
  ASSERT_EQ(desktop.opened_addresses().size(), 1u);
  EXPECT_EQ(desktop.opened_addresses()[0], "https://www.google.cn/intl/zh-CN/chrome/");
  desktop.run_on_ui([&] { window.click("按钮2"); });
  ASSERT_EQ(desktop.shown_boxes().size(), 1u);
  EXPECT_EQ(desktop.shown_boxes()[0].text, "设置保存成功");
}

TEST_F(ShellFixture, ConfigurationComesFromFileThenEnvironment) {
  test::write_bytes(folder / "data/config.ini", "[config]\r\nlive_host=live.test:8080\r\nbrowser_port=9333\r\n");
  Config c = Config::load(folder.str());
  EXPECT_EQ(c.live_host, "live.test:8080");
  EXPECT_EQ(c.browser_port, 9333);
  EXPECT_EQ(c.tool_host, Config{}.tool_host);
}

TEST(WindowModel, WritesFromManyThreadsAreSafeAndUnknownNamesIgnored) {
  WindowModel model;
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&model] {
      for (int i = 0; i < 500; ++i) {
        model.update_text("编辑框_显示", [](const std::string& s) { return s + "x"; });
        model.set_status_part(0, std::to_string(i));
        (void)model.text("编辑框_显示");
      }
    });
  for (auto& w : writers) w.join();
  EXPECT_EQ(model.text("编辑框_显示").size(), 2000u);
  model.set_text("no such control", "x");
  EXPECT_EQ(model.text("no such control"), "");
  model.set_status_part(7, "ignored");
  EXPECT_EQ(model.status_part(7), "");
}

}  // namespace
}  // namespace qz::app
