#pragma once
// The command-line front end: the same core as the window, driven through the window model by a
// headless back end. `qiongzhi record <share link>`, `qiongzhi replay <dashboard link>`,
// `qiongzhi download <address>`.
#include <functional>
#include <string>
#include <vector>

namespace qz::app {
class Application;
}

namespace qz::ui {

// Adds the program's parts to an application (the composition root's install_subsystems).
using Installer = std::function<void(app::Application&)>;

// Exit codes scripts can test.
enum CliExit : int {
  kCliDone = 0,           // the file is finished
  kCliUsage = 2,          // bad arguments
  kCliFolder = 3,         // the download folder cannot be written
  kCliNoBrowser = 4,      // no usable browser
  kCliNoAddress = 5,      // no stream or replay address came within the time allowed
  kCliToolFailed = 6,     // the recording tool is missing or ended without a finished file
};

// True when the arguments ask for the command line rather than the window.
bool is_cli_invocation(const std::vector<std::string>& args);

// `args` without the program name, UTF-8. Output goes to stdout, messages to stderr.
int run_cli(const std::vector<std::string>& args, const Installer& install);

}  // namespace qz::ui
