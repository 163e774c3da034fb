// The main road as a user lives it, in the Qt window: paste a share link, open the room, the
// stream address appears, record, preview, stop, the file plays; the replay likewise; close and
// start again, and the boxes come back. Real Chromium and ffmpeg against the fake platform site.
// QZ_E2E_VISIBLE=1 shows the window and the browser (on the display of the session).
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>

#include "app/application.h"
#include "program/wiring.h"
#include "e2e_support.h"
#include "fixtures/http_server.h"
#include "fixtures/platform_site/platform_site.h"
#include "ui/qt/qt_desktop.h"
#include "ui/qt/qt_main_window.h"

namespace qz::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool visible_run() { return std::getenv("QZ_E2E_VISIBLE") != nullptr; }

bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// Process ids of running ffplay processes reading `address`.
std::vector<int> ffplay_processes(const std::string& address) {
  std::vector<int> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string cmdline = read_bytes(entry.path() / "cmdline");
    std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
    if (cmdline.find("ffplay") != std::string::npos && cmdline.find(address) != std::string::npos)
      found.push_back(std::stoi(name));
  }
  return found;
}

// Answers every message box the way a user presses OK, and remembers what they said (the
// blank in the test folder's name brings up the start-up warning, for one).
class BoxAnswerer {
 public:
  BoxAnswerer() {
    timer_.setInterval(100);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        texts_.push_back(box->text().toStdString());
        box->accept();
      }
    });
    timer_.start();
  }
  const std::vector<std::string>& texts() const { return texts_; }

 private:
  QTimer timer_;
  std::vector<std::string> texts_;
};

// One start of the program: the Qt window over a fresh application in `folder`.
struct Program {
  BoxAnswerer boxes;
  app::WindowModel model;
  ui::QtDesktop desktop;
  app::Application app;
  ui::QtMainWindow window{model};

  Program(const std::string& folder, const PlatformSite& site) : app(model, desktop, folder) {
    auto& config = app.context().config;
    config.live_host = site.base();
    config.replay_cdn = site.base() + "/cdn";
    config.browser_headless = !visible_run();
    config.browser_flags = "--no-sandbox --disable-gpu";
    program::install_subsystems(app);
    desktop.set_owner(&window);
    EXPECT_TRUE(app.start());
    window.show();
    app.window_created();
  }
  ~Program() { app.window_closing(); }

  void click(const char* name) { QTest::mouseClick(window.control(name), Qt::LeftButton); }
  QString shown(const char* name) {
    if (auto* line = qobject_cast<QLineEdit*>(window.control(name))) return line->text();
    if (auto* button = qobject_cast<QPushButton*>(window.control(name))) return button->text();
    return {};
  }
  bool busy() { return app.busy(); }
};

TEST(MainRoad, FromAPastedShareLinkToFilesThatPlay) {
  // No blank in the program folder: the start-up warning about one would come from the
  // provisioning thread, and the window must be there to answer it until that thread ends.
  TempFolder folder("程序目录");
  HttpServer server;
  PlatformSite site{server, server.base_url() + "/cdn"};
  LiveSource live(test_ffmpeg());
  server.route_prefix("/stream/", [&](const HttpRequest&) {
    return HttpResponse{302, {{"Location", live.address()}}, ""};
  });
  const fs::path vod = folder.path().parent_path() / "vod";
  ASSERT_TRUE(serve_vod_at(server, vod, 5, "/cdn/replay/4242/", "first.m3u8"));
  const std::string room = site.room_url("r1");
  const fs::path down = folder / "down";
  {
    Program program(folder.str(), site);
    // Paste the share link and open the room: the stream address appears.
    auto* url = qobject_cast<QLineEdit*>(program.window.control("编辑框_url"));
    url->setFocus();
    QTest::keyClicks(url, QString::fromStdString(room));
    program.click("按钮3");
    const std::string stream = site.base() + "/stream/r1.flv";
    ASSERT_TRUE(wait_for([&] { return program.shown("编辑框_直播url").toStdString() == stream; }, 30s))
        << program.model.text("编辑框_直播url");

    // Record, with the preview on the recording's port.
    const auto clicked = std::chrono::steady_clock::now();
    program.click("按钮_开始");
    EXPECT_TRUE(wait_for([&] { return program.shown("按钮_开始") == QString::fromUtf8("停止下载"); }, 5s));
    const fs::path file = down / "zhibo_1.mp4";
    ASSERT_TRUE(wait_for([&] { return fs::exists(file) && fs::file_size(file) > 50000; }, 30s))
        << program.model.text("编辑框_显示");
    program.click("按钮_播放");
    EXPECT_TRUE(wait_for([] { return !ffplay_processes("udp://127.0.0.1:1111").empty(); }, 10s));
    wait_for([] { return false; }, 3s);
    for (int pid : ffplay_processes("udp://127.0.0.1:1111")) ::kill(pid, SIGTERM);
    // The README's picture of a recording in progress comes from here.
    if (const char* picture = std::getenv("QZ_E2E_SCREENSHOT")) program.window.grab().save(picture);

    // Stop: the file is finished and plays for about as long as it was recorded.
    program.click("按钮_开始");
    ASSERT_TRUE(wait_for([&] { return !program.busy(); }, 30s));
    // From the click: the start waits a second, and ffmpeg needs a moment to connect.
    const double recorded = std::chrono::duration<double>(std::chrono::steady_clock::now() - clicked).count();
    wait_for([] { return false; }, 300ms);  // the last status line reaches the box
    EXPECT_EQ(program.shown("按钮_开始"), QString::fromUtf8("开始下载直播"));
    const std::string display = program.model.text("编辑框_显示");
    EXPECT_EQ(display.rfind("正在停止并保存文件……\r\n", 0), 0u) << display;
    EXPECT_NE(display.find("下载完成，请查看软件运行目录的mp4文件：\r\n\r\n" + u8(file) + "（时长 "), std::string::npos)
        << display;
    EXPECT_NE(display.find("任务完成"), std::string::npos) << display;
    const double duration = probe_duration(file);
    EXPECT_GT(duration, recorded - 4.0);
    EXPECT_LT(duration, recorded + 1.0);

    // The replay: the list page leads to a dashboard, whose statistics name the playlist.
    program.click("按钮6");
    ASSERT_TRUE(wait_for([&] { return program.shown("编辑框_回放url").toStdString() == site.first_playlist(); }, 30s))
        << program.model.text("编辑框_回放url");
    program.click("按钮_开始1");
    ASSERT_TRUE(wait_for([&] { return program.busy(); }, 5s));
    ASSERT_TRUE(wait_for([&] { return !program.busy(); }, 60s));
    EXPECT_NEAR(probe_duration(down / "huifang_1.mp4"), 5.0, 1.0);
    program.click("按钮_开始1");  // back to idle, as the user would
  }
  // Start again: the boxes come back from data/mvx.ini.
  Program again(folder.str(), site);
  wait_for([&] { return !again.shown("编辑框_下载目录").isEmpty(); }, 5s);
  EXPECT_EQ(again.shown("编辑框_url").toStdString(), room);
  EXPECT_EQ(again.shown("编辑框_直播url").toStdString(), site.base() + "/stream/r1.flv");
  EXPECT_EQ(again.shown("编辑框_回放url").toStdString(), site.first_playlist());
  EXPECT_EQ(again.shown("编辑框_下载目录").toStdString(), u8(down));
}

}  // namespace
}  // namespace qz::test

int main(int argc, char** argv) {
  if (!qz::test::visible_run()) qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("SDL_AUDIODRIVER", "dummy");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
