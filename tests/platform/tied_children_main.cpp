// A small program that starts children the way this program does and then waits to be killed:
// a tool (ffmpeg, asked to stop when we end) and, when given, a browser (ended when we end).
// It prints each child's id on a line of its own, then "ready".
//   tied_children <ffmpeg> [<browser> <profile folder>]
//   tied_children --stubborn <shell>   a tool that ignores every interrupt (Linux)
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/process.h"

int main(int argc, char** argv) {
  using namespace qz::platform;
  if (argc < 2) return 2;
  Process tool;
  if (std::string(argv[1]) == "--stubborn" && argc >= 3) {
    ProcessOptions stubborn{.program = argv[2],
                            .args = {"-c", "trap '' INT; while :; do sleep 1; done"},
                            .streams = Streams::kInputOnly,
                            .when_we_end = WhenWeEnd::kStop};
    if (!tool.start(stubborn)) return 3;
    std::printf("%d\nready\n", tool.id());
    std::fflush(stdout);
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  ProcessOptions tool_options{.program = argv[1],
                              .args = {"-hide_banner", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                                       "testsrc2=size=64x64:rate=5", "-f", "null", "-"},
                              .streams = Streams::kInputOnly,
                              .when_we_end = WhenWeEnd::kStop};
  if (!tool.start(tool_options)) return 3;
  std::printf("%d\n", tool.id());
  Process browser;
  if (argc >= 4) {
    ProcessOptions browser_options{.program = argv[2],
                                   .args = {"--headless=new", "--no-sandbox", "--disable-gpu",
                                            "--disable-background-networking", "--disable-component-update",
                                            "--no-first-run", "--remote-debugging-port=0",
                                            std::string("--user-data-dir=") + argv[3], "about:blank"},
                                   .streams = Streams::kNone,
                                   .when_we_end = WhenWeEnd::kKill,
                                   .hidden_window = false};
    if (!browser.start(browser_options)) return 4;
    std::printf("%d\n", browser.id());
  }
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}
