// The program's parts over a whole headless run, with real ffmpeg on loopback: every thread they
// start is joined by the end, and a relative download folder is the one the file lands in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "app/application.h"
#include "app/controls.h"
#include "platform/text_codec.h"
#include "program/wiring.h"
#include "record/install.h"
#include "record/media_fixture.h"
#include "ui/headless/headless_desktop.h"

namespace qz::app {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct RunFixture : ::testing::Test {
  std::string ffmpeg = test::test_ffmpeg();
  test::TempFolder folder{"程序"};
  test::HttpServer media;

  void SetUp() override {
    if (ffmpeg.empty()) GTEST_SKIP() << "no ffmpeg on this machine";
#ifdef _WIN32
    fs::copy_file(test::from_u8(ffmpeg), folder / "ffm.exe");  // the Windows program runs its own
#endif
    ASSERT_TRUE(test::serve_vod(media, ffmpeg, folder.path().parent_path() / "vod", 3));
  }
  void download_replay(WindowModel& window, ui::HeadlessDesktop& desktop) {
    window.set_text(kDisplayBox, "");
    window.set_text(kReplayAddressBox, media.base_url() + "/vod/index.m3u8");
    desktop.run_on_ui([&] { window.click(kReplayButton); });
    ASSERT_TRUE(ui::HeadlessDesktop::wait_until(
        [&] { return window.text(kDisplayBox).find("任务完成") != std::string::npos; }, 60s))
        << window.text(kDisplayBox);
    desktop.run_on_ui([&] { window.click(kReplayButton); });  // the button back to its start
    ASSERT_EQ(window.text(kReplayButton), "开始下载回放");
  }
};

TEST_F(RunFixture, ARelativeDownloadFolderIsTheOneTheFileLandsIn) {
  fs::create_directories(folder / "data");
  test::write_bytes(folder / "data/mvx.ini",
                    platform::utf8_to_gbk("[编辑框]\r\n编辑框_下载目录=录像" + std::string(1, platform::kSep) +
                                          "今天\r\n"));
  WindowModel window;
  ui::HeadlessDesktop desktop;
  {
    Application app(window, desktop, folder.str());
    record::install(app);
    desktop.run_on_ui([&] { app.window_created(); });
    const std::string expected = platform::join_path(folder.str(), "录像" + std::string(1, platform::kSep) + "今天");
    EXPECT_EQ(window.text(kDownloadFolderBox), expected);
    download_replay(window, desktop);
    const auto seconds = test::playable_duration(ffmpeg, platform::join_path(expected, "huifang_1.mp4"));
    ASSERT_TRUE(seconds);
    EXPECT_NEAR(*seconds, 3.0, 1.0);

    // Typed by the user later, it is made absolute at the start click.
    window.set_text_from_ui(kDownloadFolderBox, "." + std::string(1, platform::kSep) + "typed");
    download_replay(window, desktop);
    EXPECT_TRUE(fs::exists(folder / "typed" / "huifang_1.mp4"));
  }
}

#ifndef _WIN32
std::size_t thread_count() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& task : fs::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// All the parts as the program installs them, opened, used and closed: when the application is
// gone, so is every thread it or its parts started (the sanitizer runs check the rest).
TEST_F(RunFixture, EveryThreadOfEveryPartIsJoinedAtTheEndOfAHeadlessRun) {
  // The disclaimer marker goes to the Documents folder of a home of the test's own.
  test::TempFolder home{"家"};
  const char* old_home = std::getenv("HOME");
  const std::optional<std::string> saved_home = old_home ? std::optional<std::string>(old_home) : std::nullopt;
  ::setenv("HOME", home.str().c_str(), 1);

  WindowModel window;
  ui::HeadlessDesktop desktop;
  const std::size_t before = thread_count();
  {
    Application app(window, desktop, folder.str());
    Config& config = app.context().config;
    config.browser_headless = true;
    config.browser_flags = "--no-sandbox --disable-gpu";
    config.quote_url = media.base_url() + "/quote";
    program::install_subsystems(app);
    ASSERT_TRUE(app.start());
    desktop.open_window(app);
    ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return !desktop.shown_boxes().empty(); }, 10s));
    download_replay(window, desktop);
    desktop.run_on_ui([&] { app.window_closing(); });
  }
  EXPECT_EQ(thread_count(), before);

  if (saved_home) ::setenv("HOME", saved_home->c_str(), 1);
}
#endif

}  // namespace
}  // namespace qz::app
