// The main road for the Windows program under Wine: its Win32 window, its WinHTTP WebSocket
// transport attached ("连接已打开浏览器") to a Chromium that wine_attach.sh started, the fake
// platform site in this process, and the 32-bit Windows ffmpeg as ffm.exe recording the stream.
#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>

#include "app/application.h"
#include "program/wiring.h"
#include "capture/automation.h"
#include "fixtures/http_server.h"
#include "fixtures/platform_site/platform_site.h"
#include "platform/system.h"
#include "record/media_fixture.h"
#include "support/win32_messages.h"
#include "ui/win32/win32_desktop.h"
#include "ui/win32/win32_main_window.h"

namespace qz::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto pump_until = pump_messages_until;

// Writes what the window shows as a 24-bit BMP (the README's picture of a recording).
void save_window_picture(HWND window, const std::string& path) {
  RECT r {};
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO info {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  // What the screen shows of the window: Wine's PrintWindow leaves the child controls out.
  SetForegroundWindow(window);
  BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  const DWORD row = ((w * 3 + 3) / 4) * 4;
  BITMAPFILEHEADER file {0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + row * h), 0, 0,
                         sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  std::ofstream out(from_u8(path), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(row * h));
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

std::string windows_path(std::string unix_path) {
  for (char& c : unix_path)
    if (c == '/') c = '\\';
  return "Z:" + unix_path;
}

TEST(WineRoad, AttachedBrowserCapturesAndTheWindowsToolRecordsAFileThatPlays) {
  const std::string port = platform::get_env("QZ_TEST_DEVTOOLS_PORT").value_or("");
  if (port.empty()) GTEST_SKIP() << "run through wine_attach.sh, which starts the browser";
  const std::string ffmpeg = test_ffmpeg();
  if (ffmpeg.empty()) GTEST_SKIP() << "no Windows ffmpeg (QZ_WINDOWS_FFMPEG)";

  TempFolder folder("程序目录");
  fs::copy_file(from_u8(ffmpeg), folder / "ffm.exe");
  HttpServer server;
  PlatformSite site(server, server.base_url() + "/cdn");
  LiveSource live(ffmpeg);
  ASSERT_TRUE(live.started());
  server.route_prefix("/stream/", [&](const HttpRequest&) {
    return HttpResponse{302, {{"Location", live.address()}}, ""};
  });

  app::WindowModel model;
  ui::Win32Desktop desktop;
  app::Application app(model, desktop, folder.str());
  auto& config = app.context().config;
  config.live_host = site.base();
  config.replay_cdn = site.base() + "/cdn";
  config.browser_port = std::stoi(port);
  // The component only checks that a browser file exists; the Linux one stands in for Chrome.
  // This prefix has no Chrome or Edge and the road attaches to the browser the script started: a
  // runnable program as the browser keeps the created handler's "download a browser" box away (a
  // browser path must name a Windows program, so the Linux Chromium no longer counts).
  config.browser_path = "C:\\windows\\system32\\notepad.exe";
  program::install_subsystems(app);
  ASSERT_TRUE(app.start());
  ui::Win32MainWindow window(model, desktop);
  ASSERT_TRUE(window.create(GetModuleHandleW(nullptr)));
  app.window_created();
  ShowWindow(window.handle(), SW_SHOW);
  const auto click = [&](const char* name) { SendMessageW(window.control(name), BM_CLICK, 0, 0); };

  // Attach to the running browser; then the user opens the room in it.
  click("按钮5");
  ASSERT_TRUE(pump_until([&] { return !model.status_part(0).empty(); }, 30s));
  capture::AutomationOptions hand_options;
  hand_options.fallback_port = std::stoi(port);
  capture::Automation hand{hand_options};
  std::atomic<capture::PageHandle> page{0};
  hand.form_set_run_dir(folder.str());
  hand.form_global_init("", [&](capture::PageHandle p) { page = p; });
  ASSERT_TRUE(hand.form_connect_started());
  ASSERT_TRUE(pump_until([&] { return page != 0; }, 20s));
  ASSERT_TRUE(hand.form_forward_url(page, site.room_url("wine")));
  ASSERT_TRUE(pump_until([&] { return model.text("编辑框_直播url") == site.base() + "/stream/wine.flv"; }, 30s))
      << model.text("编辑框_直播url");

  // Record with the Windows ffmpeg, then stop through the button.
  const auto clicked = std::chrono::steady_clock::now();
  click("按钮_开始");
  const fs::path file = folder / "down/zhibo_1.mp4";
  ASSERT_TRUE(pump_until([&] { return fs::exists(file) && fs::file_size(file) > 50000; }, 60s))
      << model.text("编辑框_显示");
  pump_until([] { return false; }, 3s);
  if (const auto picture = platform::get_env("QZ_E2E_SCREENSHOT")) save_window_picture(window.handle(), windows_path(*picture));
  click("按钮_开始");
  ASSERT_TRUE(pump_until([&] { return !app.busy(); }, 30s));
  const double recorded = std::chrono::duration<double>(std::chrono::steady_clock::now() - clicked).count();
  pump_until([] { return false; }, 300ms);
  EXPECT_NE(model.text("编辑框_显示").find("任务完成"), std::string::npos) << model.text("编辑框_显示");
  const auto duration = playable_duration(ffmpeg, u8(file));
  ASSERT_TRUE(duration.has_value());
  EXPECT_GT(*duration, recorded - 5.0);
  EXPECT_LT(*duration, recorded + 1.0);

  hand.shutdown();
  app.window_closing();
}

}  // namespace
}  // namespace qz::test
