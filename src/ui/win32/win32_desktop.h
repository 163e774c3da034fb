#pragma once
#include <windows.h>

#include "app/desktop.h"

namespace qz::ui {

// Message boxes, the shell's default handler, and work posted to the window's thread.
class Win32Desktop final : public app::Desktop {
 public:
  static constexpr UINT kRunTaskMessage = WM_APP + 1;

  void set_window(HWND window) { window_ = window; }

  app::MessageReply message_box(const app::MessageBoxRequest& request) override;
  void open_with_default_handler(const std::string& address) override;
  void post(std::function<void()> task, int delay_ms = 0) override;
  bool close_window() override;

  // Called by the window procedure for kRunTaskMessage and WM_TIMER.
  static void run_posted(LPARAM task);
  static void run_timer(HWND window, UINT_PTR id);

 private:
  HWND window_ = nullptr;
};

}  // namespace qz::ui
