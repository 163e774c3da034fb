// With a real headless Chromium against the fake platform site on loopback.
#include <gtest/gtest.h>

#include <cstdio>

#include "app/application.h"
#include "capture/browser_control.h"
#include "capture/install.h"
#include "fixtures/http_server.h"
#include "fixtures/platform_site/platform_site.h"
#include "platform/browser.h"
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
  std::vector<std::string> log;
  std::mutex log_mutex;
  rig->automation.form_logcall([&](const std::string& line) {
    std::lock_guard lock(log_mutex);
    log.push_back(line);
  });
  window.set_text("编辑框_url", site.room_url("big", 256 << 10));
  rig->control.open_live_room();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_直播url") == stream("big"); }, 30s));
  std::lock_guard lock(log_mutex);
  bool fetched = false;
  for (const std::string& line : log) fetched |= line.rfind("request body fetched", 0) == 0;
  EXPECT_TRUE(fetched) << "the browser kept this body in the event: the variant shows nothing";
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
