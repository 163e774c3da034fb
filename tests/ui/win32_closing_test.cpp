// Closing the Win32 window while a recording runs, as the program closes it (the user's close, or
// the update's once the new version has started): the window leaves the screen at once, the
// recording is finished in the background, the file plays, and only then is the program ended.
// Run under Wine with the Windows ffmpeg.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <ostream>
#include <thread>

#include "app/application.h"
#include "notices/install.h"
#include "record/install.h"
#include "record/media_fixture.h"
#include "support/win32_messages.h"
#include "ui/win32/win32_desktop.h"
#include "ui/win32/win32_main_window.h"

namespace qz::ui {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto wait_for = test::pump_messages_until;

struct CloseCase {
  const char* who;
  std::function<void(HWND, notices::ServiceNotices&)> close;
};

void PrintTo(const CloseCase& c, std::ostream* out) { *out << c.who; }

class Win32Closing : public ::testing::TestWithParam<CloseCase> {};

TEST_P(Win32Closing, ClosingDuringARecordingTakesTheWindowAwayAtOnceAndTheFilePlays) {
  const std::string ffmpeg = test::test_ffmpeg();
  if (ffmpeg.empty()) GTEST_SKIP() << "no Windows ffmpeg named for the tests";
  test::TempFolder folder;
  // The program runs the ffm.exe of its own folder.
  fs::copy_file(test::from_u8(ffmpeg), folder / "ffm.exe");
  test::LiveSource live(ffmpeg);
  ASSERT_TRUE(live.started());

  app::WindowModel model;
  Win32Desktop desktop;
  app::Application app(model, desktop, folder.str());
  record::install(app);
  const auto notices = notices::install_service_notices(app);
  ASSERT_TRUE(notices);
  Win32MainWindow window(model, desktop);
  ASSERT_TRUE(window.create(GetModuleHandleW(nullptr)));
  std::atomic<bool> ended{false};
  window.close_application_with(app, [&] { ended = true; });
  ShowWindow(window.handle(), SW_SHOW);
  app.window_created();

  model.set_text("编辑框_直播url", live.address());
  SendMessageW(window.control("按钮_开始"), BM_CLICK, 0, 0);
  const fs::path file = folder / "down" / "zhibo_1.mp4";
  ASSERT_TRUE(wait_for([&] { return fs::exists(file) && fs::file_size(file) > 50000; }, 40s))
      << model.text("编辑框_显示");

  // Watched from a thread of its own, as the desktop sees the window: under Wine without a
  // window manager, the hiding call itself returns only after Wine's wait for the manager (2 s),
  // long after the window has left the screen.
  using Clock = std::chrono::steady_clock;
  const auto asked = Clock::now();
  std::atomic<Clock::duration> gone_after{Clock::duration::max()};
  std::thread watcher([&, handle = window.handle()] {
    while (Clock::now() - asked < 5s) {
      if (!IsWindowVisible(handle)) {
        gone_after = Clock::now() - asked;
        return;
      }
      Sleep(5);
    }
  });
  GetParam().close(window.handle(), *notices);
  wait_for([&] { return gone_after.load() != Clock::duration::max(); }, 6s);
  watcher.join();
  // At once to the eye; the waits this guards against (browser, tools' grace, drain) are 5 s and more,
  // so a loaded machine's slower frame does not count against it.
  EXPECT_LT(gone_after.load(), 3s);
  ASSERT_TRUE(wait_for([&] { return ended.load(); }, 20s));
  EXPECT_FALSE(app.busy());
  const auto seconds = test::playable_duration(ffmpeg, test::u8(file));
  ASSERT_TRUE(seconds);
  EXPECT_GT(*seconds, 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    ByWhoCloses, Win32Closing,
    ::testing::Values(
        // The title bar's close button ends in this message.
        CloseCase{"User", [](HWND window, notices::ServiceNotices&) { PostMessageW(window, WM_CLOSE, 0, 0); }},
        // What the update flow runs on the UI thread once the new version has started.
        CloseCase{"Update", [](HWND, notices::ServiceNotices& n) { n.close_program(); }}),
    [](const ::testing::TestParamInfo<CloseCase>& info) { return std::string(info.param.who); });

}  // namespace
}  // namespace qz::ui
