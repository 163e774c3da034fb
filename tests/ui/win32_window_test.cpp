// The Win32 window draws the control table exactly and carries texts both ways (run under Wine).
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "app/controls.h"
#include "app/identity.h"
#include "platform/win32/wide.h"
#include "support/win32_messages.h"
#include "ui/win32/win32_main_window.h"

namespace qz::ui {
namespace {

using app::ControlKind;

// Serves the window's messages for a while, for changes that have no end to wait for.
void pump(int ms = 200) { test::pump_messages_until([] { return false; }, std::chrono::milliseconds(ms)); }

std::string text_of(HWND control) {
  wchar_t buffer[4096] = {};
  GetWindowTextW(control, buffer, 4096);
  return platform::from_wide(buffer);
}

RECT client_rect_of(HWND control) {
  RECT r {};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

struct Win32WindowTest : ::testing::Test {
  app::WindowModel model;
  Win32Desktop desktop;
  Win32MainWindow window{model, desktop};
  void SetUp() override {
    ASSERT_TRUE(window.create(GetModuleHandleW(nullptr)));
    ShowWindow(window.handle(), SW_SHOW);
    pump();
  }
};

TEST_F(Win32WindowTest, EveryControlStandsWhereTheTableSaysWithItsText) {
  RECT outer {};
  GetWindowRect(window.handle(), &outer);
  EXPECT_EQ(outer.right - outer.left, app::kWindowWidth);
  EXPECT_EQ(outer.bottom - outer.top, app::kWindowHeight);
  for (const app::ControlSpec& spec : app::main_window_controls()) {
    SCOPED_TRACE(std::string(spec.name));
    HWND control = window.control(spec.name);
    ASSERT_NE(control, nullptr);
    if (spec.kind == ControlKind::StatusBar) {
      EXPECT_EQ(SendMessageW(control, SB_GETPARTS, 0, 0), app::kStatusBarParts);
      continue;
    }
    const RECT r = client_rect_of(control);
    EXPECT_EQ(r.left, spec.x);
    EXPECT_EQ(r.top, spec.y);
    EXPECT_EQ(r.right - r.left, spec.width);
    EXPECT_EQ(r.bottom - r.top, spec.height);
    EXPECT_EQ(IsWindowVisible(control) != FALSE, (spec.style & app::kHidden) == 0);
    if (spec.kind == ControlKind::Hyperlink)
      EXPECT_NE(text_of(control).find(spec.text), std::string::npos);
    else if (spec.kind != ControlKind::Picture)
      EXPECT_EQ(text_of(control), spec.text);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    if (spec.kind == ControlKind::Edit) {
      EXPECT_EQ((style & ES_READONLY) != 0, (spec.style & app::kReadOnly) != 0);
      EXPECT_EQ((style & ES_MULTILINE) != 0, (spec.style & app::kMultiLine) != 0);
      EXPECT_EQ((style & ES_CENTER) != 0, (spec.style & app::kCentred) != 0);
    }
  }
}

TEST_F(Win32WindowTest, WritesFromAnyThreadReachTheControls) {
  std::thread worker([this] {
    model.set_caption(std::string(app::kTitle) + "v" + app::kVersion);
    model.set_text("编辑框_显示", "line 1\r\nline 2\r\n");
    model.set_text("按钮_开始", "停止下载");
    model.set_status_part(1, "真");
    model.set_visible("按钮_打开新版本", true);
  });
  worker.join();
  pump();
  EXPECT_EQ(text_of(window.handle()), "琼枝直播下载v2.7");
  EXPECT_EQ(text_of(window.control("编辑框_显示")), "line 1\r\nline 2\r\n");
  EXPECT_EQ(text_of(window.control("按钮_开始")), "停止下载");
  wchar_t part[64] = {};
  SendMessageW(window.control(app::kStatusBar), SB_GETTEXTW, 1, reinterpret_cast<LPARAM>(part));
  EXPECT_EQ(platform::from_wide(part), "真");
  EXPECT_TRUE(IsWindowVisible(window.control("按钮_打开新版本")));
}

TEST_F(Win32WindowTest, ClicksTypingAndPostedTasksComeBack) {
  int clicks = 0;
  model.on_click("按钮3", [&] { ++clicks; });
  SendMessageW(window.control("按钮3"), BM_CLICK, 0, 0);
  pump(50);
  EXPECT_EQ(clicks, 1);
  SetWindowTextW(window.control("编辑框_url"), L"https://v.example/r");  // as typing does: EN_CHANGE
  pump(50);
  EXPECT_EQ(model.text("编辑框_url"), "https://v.example/r");

  DWORD ran_on = 0;
  bool delayed = false;
  std::thread([&] {
    desktop.post([&] { ran_on = GetCurrentThreadId(); });
    desktop.post([&] { delayed = true; }, 100);
  }).join();
  pump(400);
  EXPECT_EQ(ran_on, GetCurrentThreadId());
  EXPECT_TRUE(delayed);
}

// A worker writes a box in the very instant the window reports its own change of that box (here:
// while the window's EN_CHANGE is on its way): the worker's newer text must win.
HHOOK g_hook = nullptr;
std::function<void(const CWPSTRUCT&)> g_on_message;

LRESULT CALLBACK watch_messages(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION && g_on_message) g_on_message(*reinterpret_cast<const CWPSTRUCT*>(lparam));
  return CallNextHookEx(g_hook, code, wparam, lparam);
}

TEST_F(Win32WindowTest, ItsOwnTextWriteBackNeverOverwritesANewerText) {
  HWND box = window.control(app::kShareLinkBox);  // a one-line box reports the program's own changes
  bool written = false;
  g_on_message = [&](const CWPSTRUCT& m) {
    if (written || m.hwnd != window.handle() || m.message != WM_COMMAND || HIWORD(m.wParam) != EN_CHANGE ||
        reinterpret_cast<HWND>(m.lParam) != box)
      return;
    written = true;
    std::thread([&] { model.set_text(app::kShareLinkBox, "newer"); }).join();
  };
  g_hook = SetWindowsHookExW(WH_CALLWNDPROC, watch_messages, nullptr, GetCurrentThreadId());
  ASSERT_NE(g_hook, nullptr);
  model.set_text(app::kShareLinkBox, "older");
  pump();
  UnhookWindowsHookEx(g_hook);
  g_on_message = nullptr;
  ASSERT_TRUE(written);
  EXPECT_EQ(model.text(app::kShareLinkBox), "newer");
  EXPECT_EQ(text_of(box), "newer");
}

}  // namespace
}  // namespace qz::ui
