// qiongzhi.exe: the Win32 window.
#include <windows.h>
#include <ole2.h>

#include "platform/paths.h"
#include "platform/system.h"
#include "program/wiring.h"
#include "ui/win32/win32_desktop.h"
#include "ui/win32/win32_main_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  OleInitialize(nullptr);
  qz::app::WindowModel model;
  qz::ui::Win32Desktop desktop;
  qz::app::Application app(model, desktop, qz::platform::program_folder());
  qz::program::install_subsystems(app);
  if (!app.start()) return 0;

  qz::ui::Win32MainWindow window(model, desktop);
  if (!window.create(instance)) return 1;
  window.close_application_with(app, [] { qz::platform::exit_process_now(0); });
  app.window_created();
  ShowWindow(window.handle(), show);
  UpdateWindow(window.handle());
  desktop.post([&app] { app.startup_step(); }, 1000);

  // The loop runs on after the window has gone: closing finishes in the background and ends the
  // process itself.
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(window.handle(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
