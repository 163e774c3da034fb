// The Windows program's transport (WinHTTP WebSocket) and component, run under Wine, attached to a
// Chromium that wine_attach.sh started on loopback; the fake platform site runs in this process.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "capture/browser_control.h"
#include "fixtures/http_server.h"
#include "fixtures/platform_site/platform_site.h"
#include "platform/system.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_desktop.h"

namespace qz::capture {
namespace {

using namespace std::chrono_literals;
using ui::HeadlessDesktop;

TEST(WineAttach, ConnectRunningBrowserCapturesTheLiveAddress) {
  const std::string port = platform::get_env("QZ_TEST_DEVTOOLS_PORT").value_or("");
  if (port.empty()) GTEST_SKIP() << "run through wine_attach.sh, which starts the browser";
  test::TempFolder folder;
  app::WindowModel window;
  HeadlessDesktop desktop;
  test::HttpServer server;
  test::PlatformSite site(server, server.base_url() + "/cdn");
  app::Context ctx{window, desktop, folder.str(), {}, {}};
  ctx.config.live_host = site.base();
  ctx.config.replay_cdn = site.base() + "/cdn";

  AutomationOptions options;
  options.fallback_port = std::stoi(port);
  Automation automation(options);
  automation.form_set_run_dir(folder.str());
  automation.form_logcall([](const std::string& line) { std::fprintf(stderr, "component: %s\n", line.c_str()); });
  CaptureState state;
  StreamCapture capture(ctx, automation, state);
  BrowserControl control(ctx, automation, state, capture);

  // The created handler: this Wine prefix has no Chrome or Edge, so the message shows; the page
  // callback is in place all the same.
  control.browser_initialisation();
  ASSERT_EQ(desktop.shown_boxes().size(), 1u);
  EXPECT_EQ(desktop.opened_addresses(), std::vector<std::string>{"https://www.google.cn/chrome/"});
  control.connect_running_browser();
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return state.current_page != 0; }, 20s));
  EXPECT_EQ(window.status_part(0), std::to_string(state.current_page.load()));
  ASSERT_TRUE(automation.form_forward_url(state.current_page, site.room_url("wine")));
  ASSERT_TRUE(HeadlessDesktop::wait_until(
      [&] { return window.text("编辑框_直播url") == site.base() + "/stream/wine.flv"; }, 30s))
      << window.text("编辑框_直播url");
  EXPECT_EQ(automation.form_get_page_url(state.current_page), site.room_url("wine"));
  // A body the browser leaves out of the event is fetched over the same transport.
  ASSERT_TRUE(automation.form_forward_url(state.current_page, site.room_url("large", 200000)));
  ASSERT_TRUE(HeadlessDesktop::wait_until(
      [&] { return window.text("编辑框_直播url") == site.base() + "/stream/large.flv"; }, 30s));


  // A page of the attached browser opens another with window.open (on the user's click): the
  // new page is watched from its first request and leads to the replay.
  ASSERT_TRUE(automation.form_forward_url(state.current_page, site.base() + "/popup-list"));
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return server.request_count("/popup-list") == 1; }, 30s));
  std::this_thread::sleep_for(500ms);  // the page's script sets up its click handler
  const PageHandle list_page = state.current_page;
  {
    std::string error;
    auto user = DevToolsClient::connect("127.0.0.1", std::stoi(port), platform::get_env("QZ_TEST_DEVTOOLS_PATH").value_or(""), {}, &error);
    ASSERT_TRUE(user) << error;
    std::string target;
    const DevToolsReply targets = user->call("Target.getTargets");
    for (const auto& info : array_field(targets.result, "targetInfos"))
      if (text_field(info, "url").find("/popup-list") != std::string::npos) target = text_field(info, "targetId");
    ASSERT_FALSE(target.empty());
    const DevToolsReply attached = user->call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}});
    ASSERT_TRUE(user->call("Runtime.evaluate", {{"expression", "document.getElementById('replay').click()"}, {"userGesture", true}},
                           text_field(attached.result, "sessionId")).ok);
  }
  ASSERT_TRUE(HeadlessDesktop::wait_until([&] { return window.text("编辑框_回放url") == site.first_playlist(); }, 30s))
      << window.text("编辑框_回放url");
  EXPECT_NE(state.current_page, list_page);  // the opened page reached the page callback

  automation.shutdown();
  capture.request_stop();
  capture.join();
}

}  // namespace
}  // namespace qz::capture
