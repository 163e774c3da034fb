#include <QApplication>

#include "app/application.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "ui/qt/qt_desktop.h"
#include "ui/cli/cli.h"
#include "ui/qt/qt_main_window.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (qz::ui::is_cli_invocation(args)) return qz::ui::run_cli(args);
  QApplication qt(argc, argv);
  qz::app::WindowModel model;
  qz::ui::QtDesktop desktop;
  qz::app::Application app(model, desktop, qz::platform::program_folder());
  qz::app::install_subsystems(app);
  if (!app.start()) return 0;

  qz::ui::QtMainWindow window(model);
  desktop.set_owner(&window);
  window.on_close = [&app] {
    app.window_closing();
    qz::platform::exit_process_now(0);
  };
  window.show();
  app.window_created();
  desktop.post([&app] { app.startup_step(); }, 1000);
  return qt.exec();
}
