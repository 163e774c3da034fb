// qiongzhi on Linux: the Qt window, or the command line when arguments are given.
#include <QApplication>

#include "platform/paths.h"
#include "platform/system.h"
#include "program/wiring.h"
#include "ui/cli/cli.h"
#include "ui/qt/qt_desktop.h"
#include "ui/qt/qt_main_window.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (qz::ui::is_cli_invocation(args)) return qz::ui::run_cli(args, qz::program::install_subsystems);
  QApplication qt(argc, argv);
  // Closing goes on in the background after the window has gone; the event loop keeps serving
  // it until the process ends.
  qt.setQuitOnLastWindowClosed(false);
  qt.setWindowIcon(qz::ui::QtMainWindow::program_icon());
  qz::app::WindowModel model;
  qz::ui::QtDesktop desktop;
  qz::app::Application app(model, desktop, qz::platform::program_folder());
  qz::program::install_subsystems(app);
  if (!app.start()) return 0;

  qz::ui::QtMainWindow window(model);
  desktop.set_owner(&window);
  window.close_application_with(app, [] { qz::platform::exit_process_now(0); });
  window.show();
  app.window_created();
  desktop.post([&app] { app.startup_step(); }, 1000);
  return qt.exec();
}
