#include "ui/win32/win32_desktop.h"

#include <shellapi.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/win32/wide.h"

namespace qz::ui {
namespace {

using MessageBoxTimeoutFn = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT, WORD, DWORD);

// Timers are keyed by their task so that a delayed task runs once, on the window's thread.
std::mutex g_timer_mutex;
std::map<UINT_PTR, std::unique_ptr<std::function<void()>>> g_timers;

UINT icon_flag(app::MessageIcon icon) {
  switch (icon) {
    case app::MessageIcon::Information: return MB_ICONINFORMATION;
    case app::MessageIcon::Warning: return MB_ICONWARNING;
    case app::MessageIcon::Stop: return MB_ICONSTOP;
    case app::MessageIcon::None: break;
  }
  return 0;
}

}  // namespace

app::MessageReply Win32Desktop::message_box(const app::MessageBoxRequest& request) {
  const std::wstring text = platform::to_wide(request.text);
  const std::wstring caption = platform::to_wide(request.caption);
  UINT flags = icon_flag(request.icon) |
               (request.buttons == app::MessageButtons::OkCancel ? MB_OKCANCEL : MB_OK);
  HWND owner = request.owned_by_window ? window_ : nullptr;
  if (owner && GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId())
    flags |= MB_TASKMODAL;  // a worker's box still keeps the user on it
  int result = 0;
  if (request.timeout_ms > 0) {
    const auto timed = reinterpret_cast<MessageBoxTimeoutFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "MessageBoxTimeoutW")));
    if (timed)
      result = timed(owner, text.c_str(), caption.c_str(), flags, 0, static_cast<DWORD>(request.timeout_ms));
  }
  if (result == 0) result = MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
  return result == IDCANCEL ? app::MessageReply::Cancel : app::MessageReply::Ok;
}

void Win32Desktop::open_with_default_handler(const std::string& address) {
  ShellExecuteW(window_, L"open", platform::to_wide(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

bool Win32Desktop::close_window() {
  // The window procedure's close: it hides the window first, then closes in the background.
  return window_ && PostMessageW(window_, WM_CLOSE, 0, 0);
}

void Win32Desktop::post(std::function<void()> task, int delay_ms) {
  auto* boxed = new std::function<void()>(std::move(task));
  if (delay_ms <= 0) {
    if (!PostMessageW(window_, kRunTaskMessage, 0, reinterpret_cast<LPARAM>(boxed))) delete boxed;
    return;
  }
  // SetTimer must be called on the window's thread: hop there first.
  auto* arm = new std::function<void()>([window = window_, boxed, delay_ms] {
    const auto id = reinterpret_cast<UINT_PTR>(boxed);
    {
      std::lock_guard lock(g_timer_mutex);
      g_timers[id].reset(boxed);
    }
    SetTimer(window, id, static_cast<UINT>(delay_ms), nullptr);
  });
  if (!PostMessageW(window_, kRunTaskMessage, 0, reinterpret_cast<LPARAM>(arm))) {
    delete arm;
    delete boxed;
  }
}

void Win32Desktop::run_posted(LPARAM task) {
  std::unique_ptr<std::function<void()>> owned(reinterpret_cast<std::function<void()>*>(task));
  if (owned && *owned) (*owned)();
}

void Win32Desktop::run_timer(HWND window, UINT_PTR id) {
  KillTimer(window, id);
  std::unique_ptr<std::function<void()>> task;
  {
    std::lock_guard lock(g_timer_mutex);
    const auto it = g_timers.find(id);
    if (it == g_timers.end()) return;
    task = std::move(it->second);
    g_timers.erase(it);
  }
  if (task && *task) (*task)();
}

}  // namespace qz::ui
