// The Windows program's transport (WinHTTP WebSocket) and component, run under Wine, attached to a
// Chromium that wine_attach.sh started on loopback; the fake platform site runs in this process.
#include <gtest/gtest.h>

#include <cstdio>

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

  automation.shutdown();
  capture.request_stop();
  capture.join();
}

}  // namespace
}  // namespace qz::capture
