// Closing the Qt window while a recording runs, as the program closes it (the user's close, or
// the update's once the new version has started): the window leaves the screen at once, the
// recording is finished in the background, the file plays, and only then is the program ended.
#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>

#include "app/application.h"
#include "notices/install.h"
#include "record/install.h"
#include "record/media_fixture.h"
#include "ui/qt/qt_desktop.h"
#include "ui/qt/qt_main_window.h"

namespace qz::ui {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

struct CloseCase {
  const char* who;
  std::function<void(QtMainWindow&, notices::ServiceNotices&)> close;
};

void PrintTo(const CloseCase& c, std::ostream* out) { *out << c.who; }

class QtClosing : public ::testing::TestWithParam<CloseCase> {};

TEST_P(QtClosing, ClosingDuringARecordingTakesTheWindowAwayAtOnceAndTheFilePlays) {
  const std::string ffmpeg = test::test_ffmpeg();
  if (ffmpeg.empty()) GTEST_SKIP() << "no ffmpeg on this machine";
  test::TempFolder folder;
  test::LiveSource live(ffmpeg);
  ASSERT_TRUE(live.started());

  app::WindowModel model;
  QtDesktop desktop;
  app::Application app(model, desktop, folder.str());
  record::install(app);
  const auto notices = notices::install_service_notices(app);
  ASSERT_TRUE(notices);
  QtMainWindow window(model);
  desktop.set_owner(&window);
  std::atomic<bool> ended{false};
  window.close_application_with(app, [&] { ended = true; });
  window.show();
  app.window_created();

  model.set_text("编辑框_直播url", live.address());
  QTest::mouseClick(window.control("按钮_开始"), Qt::LeftButton);
  const fs::path file = folder / "down" / "zhibo_1.mp4";
  ASSERT_TRUE(wait_for([&] { return fs::exists(file) && fs::file_size(file) > 50000; }, 30s))
      << model.text("编辑框_显示");

  const auto asked = std::chrono::steady_clock::now();
  GetParam().close(window, *notices);
  ASSERT_TRUE(wait_for([&] { return !window.isVisible(); }, 5s));
  // At once to the eye; the waits this guards against (browser, tools' grace, drain) are 5 s and more,
  // so a loaded machine's slower frame does not count against it.
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);
  ASSERT_TRUE(wait_for([&] { return ended.load(); }, 20s));
  EXPECT_FALSE(app.busy());
  const auto seconds = test::playable_duration(ffmpeg, test::u8(file));
  ASSERT_TRUE(seconds);
  EXPECT_GT(*seconds, 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    ByWhoCloses, QtClosing,
    ::testing::Values(
        CloseCase{"User", [](QtMainWindow& window, notices::ServiceNotices&) { window.close(); }},
        // What the update flow runs on the UI thread once the new version has started.
        CloseCase{"Update", [](QtMainWindow&, notices::ServiceNotices& n) { n.close_program(); }}),
    [](const ::testing::TestParamInfo<CloseCase>& info) { return std::string(info.param.who); });

}  // namespace
}  // namespace qz::ui

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
