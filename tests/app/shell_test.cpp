#include "app/application.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>

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
#ifdef _WIN32
  const std::string stored = "E:\\videos";
#else
  const std::string stored = "/media/videos";
#endif
  write_main_settings("编辑框_下载目录", stored);
  Application app(window, desktop, folder.str());
  desktop.run_on_ui([&] { app.window_created(); });
  EXPECT_EQ(window.text("编辑框_下载目录"), stored);
}

// Both settings files may hold a box: the main file (saved at close) is read as the window is
// made and the saved file ("保存配置") after it, so the same files give the same boxes every time.
TEST_F(ShellFixture, TheSavedSettingsWinForABoxBothFilesHold) {
  struct Case {
    const char* box;
    const char* main;   // nullptr: the main file does not hold the box
    const char* saved;  // nullptr: the saved file does not hold the box
    const char* shown;
  } cases[] = {
      {"编辑框_直播url", "http://main/live.flv", nullptr, "http://main/live.flv"},
      {"编辑框_回放url", nullptr, "http://saved/index.m3u8", "http://saved/index.m3u8"},
      {"编辑框_url", "https://main/share", "https://saved/share", "https://saved/share"},
  };
  std::string main_file = "[编辑框]\r\n", saved_file = "[编辑框]\r\n";
  for (const Case& c : cases) {
    if (c.main) main_file += std::string(c.box) + "=" + c.main + "\r\n";
    if (c.saved) saved_file += std::string(c.box) + "=" + c.saved + "\r\n";
  }
  test::write_bytes(folder / "data/mvx.ini", platform::utf8_to_gbk(main_file));
  test::write_bytes(folder / "data/setsoft.ini", platform::utf8_to_gbk(saved_file));
  // The two loads once raced: start the program several times to give a wrong order its chance.
  for (int start = 0; start < 10; ++start) {
    WindowModel fresh;
    Application app(fresh, desktop, folder.str());
    desktop.run_on_ui([&] { app.window_created(); });
    ASSERT_TRUE(app.wait_for_saved_settings(30s));
    for (const Case& c : cases) EXPECT_EQ(fresh.text(c.box), c.shown) << c.box << ", start " << start;
  }
}

// A part that notes every call of the frame into a shared journal, "<name>.<call>".
class JournalPart final : public Subsystem {
 public:
  struct Journal {
    std::mutex mutex;  // parts are called from the UI thread, the closer and the test
    std::vector<std::string> entries;
    void note(std::string entry) {
      std::lock_guard lock(mutex);
      entries.push_back(std::move(entry));
    }
    std::vector<std::string> read() {
      std::lock_guard lock(mutex);
      return entries;
    }
    void clear() {
      std::lock_guard lock(mutex);
      entries.clear();
    }
  };

  JournalPart(std::string name, Journal& journal) : name_(std::move(name)), journal_(journal) {}
  std::string_view name() const override { return name_; }
  void window_created() override { journal_.note(name_ + ".created"); }
  void settings_loaded() override { journal_.note(name_ + ".settings"); }
  void startup_boxes() override { journal_.note(name_ + ".boxes"); }
  void startup_work() override { journal_.note(name_ + ".work"); }
  void request_stop() override { journal_.note(name_ + ".stop"); }
  void join() override {
    journal_.note(name_ + ".join");
    if (on_join) on_join();
  }
  std::function<void()> on_join;

 private:
  std::string name_;
  Journal& journal_;
};

TEST_F(ShellFixture, StartupStepWritesItsTwoRunLogEntriesAfterOneSecond) {
  JournalPart::Journal journal;  // outlives the application, whose end still calls its parts
  Application app(window, desktop, folder.str());
  app.add(std::make_unique<JournalPart>("notices", journal));
  const auto opened = std::chrono::steady_clock::now();
  desktop.open_window(app);
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return journal.read().size() == 4; }, 10s));
  EXPECT_GE(std::chrono::steady_clock::now() - opened, 900ms);
  std::vector<std::string> order = journal.read();
  std::sort(order.begin(), order.begin() + 2);  // the provisioning thread runs beside the UI thread
  EXPECT_EQ(order, (std::vector<std::string>{"notices.created", "notices.settings", "notices.boxes",
                                             "notices.work"}));

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

TEST_F(ShellFixture, ClosingStopsAllPartsAtOnceThenJoinsInReverseThenSaves) {
  JournalPart::Journal journal;
  {
    Application app(window, desktop, folder.str());
    for (const char* name : {"notices", "record", "capture"})
      ASSERT_TRUE(app.add(std::make_unique<JournalPart>(name, journal)));
    desktop.run_on_ui([&] { app.window_created(); });
    // The close-time save needs the data folder that the provisioning thread's load makes.
    ASSERT_TRUE(ui::HeadlessDesktop::wait_until(
        [&] { return std::filesystem::exists(folder / "data") && journal.read().size() == 6; }, 10s));
    journal.clear();
    window.set_text_from_ui("编辑框_url", "https://share.example/abc");
    window.set_text("编辑框_直播url", "https://cdn.example/live.flv");
    window.set_text("编辑框_显示", "status");
    dynamic_cast<JournalPart&>(*app.subsystem("notices")).on_join = [&] {
      // Settings are saved only after the last part has ended.
      EXPECT_FALSE(std::filesystem::exists(folder / "data/mvx.ini"));
    };
    desktop.run_on_ui([&] { app.window_closing(); });
    EXPECT_EQ(journal.read(), (std::vector<std::string>{"notices.stop", "record.stop", "capture.stop",
                                                        "capture.join", "record.join", "notices.join"}));
    desktop.run_on_ui([&] { app.window_closing(); });  // a second close does nothing more
    EXPECT_EQ(journal.read().size(), 6u);
  }
  WindowModel restarted;
  Application app(restarted, desktop, folder.str());
  desktop.run_on_ui([&] { app.window_created(); });
  EXPECT_EQ(restarted.text("编辑框_url"), "https://share.example/abc");
  EXPECT_EQ(restarted.text("编辑框_直播url"), "https://cdn.example/live.flv");
  EXPECT_EQ(restarted.text("编辑框_显示"), "");
}

TEST_F(ShellFixture, ASecondPartOfTheSameNameIsRefused) {
  JournalPart::Journal journal;
  Application app(window, desktop, folder.str());
  EXPECT_TRUE(app.add(std::make_unique<JournalPart>("record", journal)));
  EXPECT_FALSE(app.add(std::make_unique<JournalPart>("record", journal)));
  app.stop_subsystems();
  EXPECT_EQ(journal.read(), (std::vector<std::string>{"record.stop", "record.join"}));
}

// Closing in the background: the caller gets control back at once; the process is ended when the
// parts are done, or at the deadline, with the settings saved, while a part still hangs.
TEST_F(ShellFixture, BackgroundClosingEndsTheProcessWhenDoneOrAtTheDeadline) {
  for (const bool part_hangs : {false, true}) {
    test::TempFolder program;
    std::filesystem::create_directories(program / "data");
    WindowModel model;
    JournalPart::Journal journal;
    Application app(model, desktop, program.str());
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto part = std::make_unique<JournalPart>("record", journal);
    part->on_join = [released] { released.wait_for(20s); };
    app.add(std::move(part));
    model.set_text_from_ui("编辑框_url", "https://share.example/kept");

    std::atomic<int> ends{0};
    app.close_in_background([&] { ++ends; }, part_hangs ? 300ms : 20s);
    EXPECT_EQ(ends, 0);  // back at once, while the part has not ended
    if (!part_hangs) release.set_value();
    ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return ends > 0; }, 15s));
    const auto saved = platform::read_file(platform::join_path(program.str(), "data/mvx.ini"));
    ASSERT_TRUE(saved) << part_hangs;
    EXPECT_NE(platform::gbk_to_utf8(*saved).find("https://share.example/kept"), std::string::npos);
    app.close_in_background([&] { ++ends; }, 0ms);  // once closing, always closing
    if (part_hangs) release.set_value();
    app.stop_subsystems();
    EXPECT_EQ(ends, 1);
  }
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

TEST(WindowModel, WritesFromManyThreadsAreSafe) {
  WindowModel model;
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&model] {
      for (int i = 0; i < 500; ++i) {
        model.update_text(kDisplayBox, [](const std::string& s) { return s + "x"; });
        model.set_status_part(0, std::to_string(i));
        (void)model.text(kDisplayBox);
      }
    });
  for (auto& w : writers) w.join();
  EXPECT_EQ(model.text(kDisplayBox).size(), 2000u);
  model.set_status_part(7, "ignored");
  EXPECT_EQ(model.status_part(7), "");
}

// A misspelt name stops a debug build at once; a release build reads nothing and writes nowhere.
TEST(WindowModel, UnknownNamesStopADebugBuild) {
  WindowModel model;
#ifdef NDEBUG
  model.set_text("编辑框_显示 ", "x");
  EXPECT_EQ(model.text("编辑框_显示 "), "");
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(model.set_text("编辑框_显示 ", "x"), "no control named");
  EXPECT_DEATH((void)model.text("按钮_开始2"), "no control named");
  EXPECT_DEATH(model.on_click("按钮7", [] {}), "no control named");
#endif
}

}  // namespace
}  // namespace qz::app
