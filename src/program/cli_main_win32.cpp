// qiongzhi-cli.exe: the command line as a console program on Windows.
#include <windows.h>

#include "platform/win32/wide.h"
#include "program/wiring.h"
#include "ui/cli/cli.h"

int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(qz::platform::from_wide(argv[i]));
  if (args.empty()) args.push_back("--help");
  return qz::ui::run_cli(args, qz::program::install_subsystems);
}
