// With a real headless Chromium against the fake platform site on loopback.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "app/application.h"
#include "capture/browser_control.h"
#include "capture/install.h"
#include "fixtures/http_server.h"
#include "fixtures/platform_site/platform_site.h"
#include "platform/browser.h"
#include "platform/system.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_desktop.h"

namespace qz::capture {
namespace {

using namespace std::chrono_literals;
using ui::HeadlessDesktop;

AutomationOptions test_options() {
  AutomationOptions options;
  options.headless = true;
  options.browser_flags = {"--no-sandbox", "--disable-gpu"};
  return options;
}

void configure(app::Config& config, const std::string& base) {
  config.live_host = base;
  config.replay_cdn = base + "/cdn";
  config.browser_headless = true;
  config.browser_flags = "--no-sandbox --disable-gpu";
}

struct SiteFixture : ::testing::Test {
  test::TempFolder folder;
  app::WindowModel window;
  HeadlessDesktop desktop;
  test::HttpServer server;
  test::PlatformSite site{server, server.base_url() + "/cdn"};

  void SetUp() override {
    if (platform::find_browser().empty()) GTEST_SKIP() << "no Chromium-family browser installed";
  }
  void click(const char* button) {
    desktop.run_on_ui([&] { window.click(button); });
  }
  std::string stream(const std::string& room) { return site.base() + "/stream/" + room + ".flv"; }
};

// Through the shell, as the program runs: the loader, the created handler, the button, the close.
TEST_F(SiteFixture, OpenLiveRoomThroughTheShellFillsTheLiveBox) {
  app::Application app(window, desktop, folder.str());
  configure(app.context().config, site.base());
  install(app);
  ASSERT_TRUE(app.start());
  desktop.run_on_ui([&] { app.window_created(); });
  EXPECT_TRUE(desktop.shown_boxes().empty());
  window.set_text("编辑框_url", site.room_url("r1"));
  click("按钮3");
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("r1"); }, 20s))
      << window.text("编辑框_直播url");
  EXPECT_EQ(window.status_part(0), "1");
  desktop.run_on_ui([&] { app.window_closing(); });
}

// The pieces of the subsystem with their inside in reach.
struct Rig {
  Rig(app::Context& ctx, std::chrono::milliseconds poll = 3s)
      : automation(test_options()), capture(ctx, automation, state, poll), control(ctx, automation, state, capture) {
    automation.form_set_run_dir(ctx.program_folder);
  }
  ~Rig() {
    automation.stop_events();
    capture.request_stop();
    automation.shutdown();
    capture.join();
  }
  Automation automation;
  CaptureState state;
  StreamCapture capture;
  BrowserControl control;
};

// The component's log lines as the test reads them. Shared with the log call, so a test that
// leaves early (a failed ASSERT) never leaves the event thread writing into its dead locals.
struct LogLines {
  std::mutex mutex;
  std::vector<std::string> lines;

  static std::shared_ptr<LogLines> attach(Automation& automation) {
    auto log = std::make_shared<LogLines>();
    automation.form_logcall([log](const std::string& line) {
      std::lock_guard lock(log->mutex);
      log->lines.push_back(line);
    });
    return log;
  }
  int starting_with(const std::string& prefix) {
    std::lock_guard lock(mutex);
    int n = 0;
    for (const std::string& line : lines) n += line.rfind(prefix, 0) == 0;
    return n;
  }
};

struct RigFixture : SiteFixture {
  app::Context ctx{window, desktop, folder.str(), {}, {}};
  std::unique_ptr<Rig> rig;
  void SetUp() override {
    SiteFixture::SetUp();
    if (IsSkipped()) return;
    configure(ctx.config, site.base());
    rig = std::make_unique<Rig>(ctx, 500ms);
    rig->control.browser_initialisation();
    ASSERT_NE(rig->state.browser_ready, 0);
  }
  void TearDown() override { rig.reset(); }
};

TEST_F(RigFixture, PressedTwiceBothPagesReportAndTheSecondIsCurrent) {
  window.set_text("编辑框_url", site.room_url("first"));
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("first"); }, 20s));
  window.set_text("编辑框_url", site.room_url("second"));
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("second"); }, 20s));
  EXPECT_EQ(rig->state.current_page, 2);
  EXPECT_EQ(window.status_part(0), "2");
  // The first page still reports: loading another room there changes the box again.
  ASSERT_TRUE(rig->automation.form_forward_url(1, site.room_url("again")));
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("again"); }, 20s));
  // The live room profile: the mobile agent.
  EXPECT_NE(server.requests().back().header("User-Agent").find("MiuiBrowser/14.1.18"), std::string::npos);
}

TEST_F(RigFixture, BodyTooLargeForTheEventIsFetchedBeforeTheHandlerSeesIt) {
  const auto log = LogLines::attach(rig->automation);
  window.set_text("编辑框_url", site.room_url("big", 256 << 10));
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("big"); }, 30s));
  EXPECT_GT(log->starting_with("request body fetched"), 0)
      << "the browser kept this body in the event: the variant shows nothing";
}

TEST_F(RigFixture, ReplayListThenDashboardFillsTheReplayBoxWithABoundedNumberOfStatisticsRequests) {
  rig->control.open_replay_list();  // no page yet: a new browser window on the list page
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_回放url") == site.first_playlist(); }, 30s))
      << window.text("编辑框_回放url");
  EXPECT_EQ(site.statistics_refused(), 0);  // asked from inside the page, with its cookies
  EXPECT_EQ(server.request_count("/list"), 1);
  // The dashboard polls 4 times; its statistics requests must not feed new workers.
  std::this_thread::sleep_for(3500ms);
  const int settled = site.statistics_requests();
  EXPECT_GE(settled, 1);
  EXPECT_LE(settled, 8);
  std::this_thread::sleep_for(2000ms);
  EXPECT_EQ(site.statistics_requests(), settled);
}

TEST_F(RigFixture, ReplayListOnTheCurrentPageTurnsItIntoADesktopPage) {
  window.set_text("编辑框_url", site.room_url("r"));
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("r"); }, 20s));
  rig->control.open_replay_list();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_回放url") == site.first_playlist(); }, 30s));
  EXPECT_EQ(rig->state.current_page, 1);  // no new window
  for (const test::HttpRequest& r : server.requests())
    if (r.path == "/list") EXPECT_NE(r.header("User-Agent").find("Windows NT 10.0; Win64"), std::string::npos);
}

TEST_F(RigFixture, DashboardWithoutShowIdKeepsOneWorkerPollingWithoutHarm) {
  window.set_text("编辑框_url", site.base() + "/dashboard?tab=overview");  // polls every 500 ms forever
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return server.request_count("/api/dashboard/poll") >= 6; }, 20s));
  EXPECT_EQ(rig->capture.started_workers(), 1);
  EXPECT_EQ(rig->capture.waiting_workers(), 1);
  EXPECT_EQ(site.statistics_requests(), 0);
  // The page gains "showId=": the waiting worker goes on and asks once.
  ASSERT_TRUE(rig->automation.form_forward_url(1, site.base() + "/dashboard?tab=overview&polls=1&showId=4242"));
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_回放url") == site.first_playlist(); }, 20s));
}

TEST_F(RigFixture, OwnRequestsAreNotReportedToTheRequestHandler) {
  window.set_text("编辑框_url", site.room_url("r"));
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("r"); }, 20s));
  std::mutex m;
  std::vector<std::string> seen;
  ASSERT_TRUE(rig->automation.regevent_request_willbe_sent(1, [&](PageHandle, std::string text) {
    std::lock_guard lock(m);
    seen.push_back(std::move(text));
  }));
  EXPECT_EQ(rig->automation.form_ajax_lacal(1, site.base() + "/api/own?x=1"), "{\"ok\":true}");
  EXPECT_EQ(rig->automation.form_get_page_url(1), site.room_url("r"));
  EXPECT_EQ(rig->automation.form_page_isactive(1), 1);
  EXPECT_EQ(rig->automation.form_page_isactive(7), 0);
  rig->automation.form_forward_url(1, site.base() + "/api/after");  // a request the handler must see
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] {
    std::lock_guard lock(m);
    return !seen.empty();
  }, 20s));
  std::lock_guard lock(m);
  for (const std::string& text : seen) EXPECT_EQ(text.find("/api/own"), std::string::npos) << text;
  EXPECT_NE(seen.back().find("/api/after"), std::string::npos);
}

TEST_F(RigFixture, ConnectRunningBrowserCapturesFromItsPages) {
  test::TempFolder profile("用户 浏览器");
  std::string error;
  auto browser = platform::BrowserProcess::start(
      platform::find_browser(),
      {"--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run", "--remote-debugging-port=0",
       "--user-data-dir=" + profile.str(), "about:blank"},
      &error);
  ASSERT_TRUE(browser) << error;
  std::optional<platform::DevToolsEndpoint> endpoint;
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return (endpoint = platform::read_devtools_active_port(profile.str())).has_value(); }, 20s));
  // The test's browser is found by its port, as the user's on 9222 would be.
  rig.reset();
  AutomationOptions options = test_options();
  options.fallback_port = endpoint->port;
  Automation automation(options);
  automation.form_logcall([](const std::string& line) { std::fprintf(stderr, "component: %s\n", line.c_str()); });
  CaptureState state;
  StreamCapture capture(ctx, automation, state);
  BrowserControl control(ctx, automation, state, capture);
  control.browser_initialisation();
  control.connect_running_browser();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return state.current_page != 0; }, 45s));
  ASSERT_TRUE(automation.form_forward_url(state.current_page, site.room_url("attached")));
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("attached"); }, 20s));
  automation.shutdown();
  capture.request_stop();
  capture.join();
  EXPECT_TRUE(browser->running());  // the user's browser stays open
  browser->kill();
}

}  // namespace
}  // namespace qz::capture

namespace qz::capture {
namespace {

// The user's click on a page of the program's browser: a javascript: address typed in, which
// runs as the user's own gesture (a page may open a window only on one). The browser has no
// port for a debugging connection of the test's own.
void click_in_page(Automation& automation, PageHandle page, const std::string& script) {
  ASSERT_TRUE(automation.form_forward_url(page, "javascript:" + script));
}

// The last request to `path` whose query holds `query_part`. The browser tells of a request
// before the server has it, so this waits for the server.
std::optional<test::HttpRequest> request_to(const test::HttpServer& server, const std::string& path,
                                            const std::string& query_part = "") {
  std::optional<test::HttpRequest> found;
  HeadlessDesktop::wait_until([&] {
    for (const test::HttpRequest& r : server.requests())
      if (r.path == path && r.query.find(query_part) != std::string::npos) found = r;
    return found.has_value();
  }, 10s);
  return found;
}

TEST_F(RigFixture, WindowOpenedByAWatchedPageIsWatchedWithItsProfile) {
  rig->control.open_replay_page(site.base() + "/popup-list");
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return server.request_count("/popup-list") == 1; }, 20s));
  std::this_thread::sleep_for(300ms);  // the page's script sets up its click handler
  click_in_page(rig->automation, rig->state.current_page, "document.getElementById('replay').click()");
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_回放url") == site.first_playlist(); }, 30s))
      << window.text("编辑框_回放url");
  EXPECT_EQ(rig->state.current_page, 2);  // the new window reached the page callback
  const auto dashboard = request_to(server, "/dashboard", "from=popup");
  ASSERT_TRUE(dashboard);
  // It was attached before it asked for anything, and has the opener's desktop profile.
  EXPECT_NE(dashboard->header("User-Agent").find("Windows NT 10.0; Win64"), std::string::npos);
}

TEST_F(RigFixture, PlayerInAFrameFromAnotherSiteIsCapturedWithTheRoomsProfile) {
  window.set_text("编辑框_url", site.base() + "/frame-room?room=framed");
  rig->control.open_live_room();
  const std::string framed = "http://localhost:" + std::to_string(server.port()) + "/stream/framed.flv";
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == framed; }, 30s))
      << window.text("编辑框_直播url");
  const auto liveplay = request_to(server, "/api/liveplay/getStream", "room=framed");
  ASSERT_TRUE(liveplay);
  EXPECT_NE(liveplay->header("User-Agent").find("MiuiBrowser/14.1.18"), std::string::npos);
}

TEST_F(RigFixture, LiveRoomIsAWholePhoneAndTheReplayListAWholeDesktop) {
  window.set_text("编辑框_url", site.room_url("phone"));
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("phone"); }, 20s));
  const auto room = request_to(server, "/api/liveplay/getStream", "room=phone");
  ASSERT_TRUE(room);
  EXPECT_NE(room->query.find("mobile=true&platform=Android&touch=5&ontouch=true"), std::string::npos) << room->query;
  EXPECT_EQ(room->header("Sec-CH-UA-Mobile"), "?1");

  // The same page turned into the replay list: a desktop again, without touch.
  rig->control.open_replay_list();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_回放url") == site.first_playlist(); }, 30s));
  rig->automation.form_forward_url(1, site.room_url("desk"));
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("desk"); }, 20s));
  const auto desk = request_to(server, "/api/liveplay/getStream", "room=desk");
  ASSERT_TRUE(desk);
  EXPECT_NE(desk->query.find("mobile=false&platform=Windows&touch=0&ontouch=false"), std::string::npos) << desk->query;
  EXPECT_EQ(desk->header("Sec-CH-UA-Mobile"), "?0");
}

TEST_F(RigFixture, TitleCutInsideAnEmojiStillGivesTheAddress) {
  window.set_text("编辑框_url", site.room_url("cut") + "&cut=1");
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("cut"); }, 20s))
      << window.text("编辑框_直播url");
}

TEST_F(RigFixture, BodiesOfRequestsThatCannotMatterAreNotFetched) {
  const auto log = LogLines::attach(rig->automation);
  const auto fetched = [&] { return log->starting_with("request body fetched"); };
  // The same kind of body (left out of the event) sent to an address that is neither "liveplay"
  // nor the dashboard: never read.
  window.set_text("编辑框_url", site.room_url("up", 1000) + "&to=upload");
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return server.request_count("/api/upload") >= 3; }, 20s));
  EXPECT_EQ(fetched(), 0);
  // Sent to "liveplay", it is.
  rig->automation.form_forward_url(1, site.room_url("big", 1000));
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("big"); }, 30s));
  EXPECT_GT(fetched(), 0);
}

// The program's own browser keeps one profile: what a login leaves is there at the next start,
// and nobody else can read it.
TEST_F(SiteFixture, LoginHoldsAcrossRunsInAPrivateProfile) {
  app::Context ctx{window, desktop, folder.str(), {}, {}};
  configure(ctx.config, site.base());
  {
    Rig rig(ctx);
    rig.control.browser_initialisation();
    window.set_text("编辑框_url", site.base() + "/login");
    rig.control.open_live_room();
    ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return server.request_count("/login") == 1; }, 20s));
    std::this_thread::sleep_for(500ms);
    const auto profile = folder / "data/browser";
    ASSERT_TRUE(std::filesystem::is_directory(profile));
    EXPECT_EQ(std::filesystem::status(profile).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
  }  // closing closes the browser, which writes its cookies out
  Rig rig(ctx);
  rig.control.browser_initialisation();
  window.set_text("编辑框_url", site.room_url("again"));
  rig.control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("again"); }, 30s));
  const auto room = request_to(server, "/api/liveplay/getStream", "room=again");
  ASSERT_TRUE(room);
  EXPECT_NE(room->header("Cookie").find(test::PlatformSite::login_cookie()), std::string::npos) << room->header("Cookie");
}

TEST_F(RigFixture, BrowserKilledWhileWaitingSaysSoAndTheButtonsStillAnswer) {
  window.set_text("编辑框_url", site.room_url("k"));
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("k"); }, 20s));
  // Chromium names its process in the profile's lock: host-pid.
  const std::string lock =
      std::filesystem::read_symlink(std::filesystem::path(rig->automation.profile_folder()) / "SingletonLock").string();
  const int pid = std::stoi(lock.substr(lock.rfind('-') + 1));
  ASSERT_GT(pid, 1);
  ::kill(pid, SIGKILL);
  ASSERT_TRUE(HeadlessDesktop::wait_until(
      [&] { return window.text("编辑框_显示").find("浏览器已退出") != std::string::npos; }, 20s))
      << window.text("编辑框_显示");
  // The next press starts the browser again on the same profile.
  window.set_text("编辑框_url", site.room_url("back"));
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("back"); }, 30s));
}

// A browser that never opens its port holds only the browser worker: the window answers, and
// closing ends the wait.
TEST_F(SiteFixture, HangingBrowserStartLeavesTheWindowAnswering) {
  const auto fake = folder / "hanging-browser";
  test::write_bytes(fake, "#!/bin/sh\nexec sleep 600\n");
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  app::Application app(window, desktop, folder.str());
  configure(app.context().config, site.base());
  app.context().config.browser_path = test::u8(fake);
  install(app);
  ASSERT_TRUE(app.start());
  desktop.run_on_ui([&] { app.window_created(); });
  window.set_text("编辑框_url", site.room_url("h"));
  click("按钮3");
  click("按钮2");  // "保存配置": answered while the browser start hangs
  EXPECT_EQ(desktop.shown_boxes().back().text, "设置保存成功");
  desktop.run_on_ui([&] { app.window_closing(); });
  EXPECT_EQ(window.text("编辑框_直播url"), "");
}

TEST_F(SiteFixture, WindowedBrowserWithoutADisplayIsNamedInTheDisplayBox) {
  const std::optional<std::string> display = platform::get_env("DISPLAY"), wayland = platform::get_env("WAYLAND_DISPLAY");
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  app::Context ctx{window, desktop, folder.str(), {}, {}};
  configure(ctx.config, site.base());
  ctx.config.browser_headless = false;
  {
    AutomationOptions options = test_options();
    options.headless = false;
    Automation automation(options);
    automation.form_set_run_dir(folder.str());
    CaptureState state;
    StreamCapture capture(ctx, automation, state);
    BrowserControl control(ctx, automation, state, capture);
    control.browser_initialisation();
    window.set_text("编辑框_url", site.room_url("d"));
    control.open_live_room();
    EXPECT_TRUE(HeadlessDesktop::wait_until(
        [&] { return window.text("编辑框_显示").find("浏览器启动失败：没有可显示浏览器窗口的图形界面") != std::string::npos; }, 20s))
        << window.text("编辑框_显示");
    automation.shutdown();
  }
  if (display) ::setenv("DISPLAY", display->c_str(), 1);
  if (wayland) ::setenv("WAYLAND_DISPLAY", wayland->c_str(), 1);
}

// The process Chromium names in the profile's lock (host-pid), and every process below it.
std::vector<int> browser_processes(const std::string& profile) {
  const std::string lock = std::filesystem::read_symlink(std::filesystem::path(profile) / "SingletonLock").string();
  std::vector<int> family = {std::stoi(lock.substr(lock.rfind('-') + 1))};
  std::map<int, std::vector<int>> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), {});
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 4 > stat.size()) continue;
    children[std::atoi(stat.c_str() + close + 4)].push_back(std::stoi(name));  // ") S <ppid>"
  }
  for (std::size_t i = 0; i < family.size(); ++i)
    for (int child : children[family[i]]) family.push_back(child);
  return family;
}

// The inodes of the sockets listening for TCP connections, IPv4 and IPv6.
std::set<std::string> listening_socket_inodes() {
  std::set<std::string> inodes;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      if (state == "0A") inodes.insert(inode);
    }
  }
  return inodes;
}

// The listening sockets the processes hold, as "pid: socket:[inode]".
std::vector<std::string> listening_sockets_of(const std::vector<int>& processes) {
  const std::set<std::string> listening = listening_socket_inodes();
  std::vector<std::string> found;
  for (int id : processes) {
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(id) + "/fd", error)) {
      const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
      if (target.rfind("socket:[", 0) == 0 && listening.count(target.substr(8, target.size() - 9)))
        found.push_back(std::to_string(id) + ": " + target);
    }
  }
  return found;
}

TEST_F(RigFixture, TheOwnBrowserListensOnNoPort) {
  window.set_text("编辑框_url", site.room_url("quiet"));
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("quiet"); }, 30s));
  const std::vector<int> browser = browser_processes(rig->automation.profile_folder());
  EXPECT_GT(browser.size(), 1u);  // the browser and its helpers
  EXPECT_EQ(listening_sockets_of(browser), std::vector<std::string>{});
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(rig->automation.profile_folder()) / "DevToolsActivePort"));
}

// A browser left running on the profile by a run that crashed (here one with a debugging port,
// as an older version started it) is ended, and a fresh one is driven over its pipe.
TEST_F(SiteFixture, ABrowserLeftOnTheProfileIsEndedAndAFreshOneStarts) {
  const std::string profile = platform::join_path(platform::join_path(folder.str(), "data"), "browser");
  ASSERT_TRUE(platform::make_private_directory(profile));
  std::string error;
  auto left = platform::BrowserProcess::start(
      platform::find_browser(),
      {"--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run", "--remote-debugging-port=0",
       "--user-data-dir=" + profile, "about:blank"},
      &error);
  ASSERT_TRUE(left) << error;
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return platform::read_devtools_active_port(profile).has_value(); }, 30s));
  app::Context ctx{window, desktop, folder.str(), {}, {}};
  configure(ctx.config, site.base());
  Rig rig(ctx);
  rig.control.browser_initialisation();
  window.set_text("编辑框_url", site.room_url("fresh"));
  rig.control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("fresh"); }, 30s))
      << window.text("编辑框_显示");
  EXPECT_TRUE(left->wait_exit(0));
  EXPECT_EQ(listening_sockets_of(browser_processes(profile)), std::vector<std::string>{});
}

}  // namespace
}  // namespace qz::capture
