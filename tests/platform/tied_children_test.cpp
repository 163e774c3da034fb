// Children end with the program that started them, however it ends: a program killed outright
// leaves no tool and no browser behind.
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include "record/media_fixture.h"
#include "platform/browser.h"
#include "ui/headless/headless_desktop.h"

namespace qz::record {
namespace {

using namespace std::chrono_literals;

#ifndef _WIN32
// Every running process whose command line holds `text` (a browser's helpers carry its profile).
std::vector<int> processes_mentioning(const std::string& text) {
  std::vector<int> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string cmdline = test::read_bytes(entry.path() / "cmdline");
    if (cmdline.find(text) != std::string::npos && !platform::program_of_process(std::stoi(name)).empty())
      ids.push_back(std::stoi(name));
  }
  return ids;
}
#endif

// Starts the helper program with `args` and reads its output up to its "ready": the ids of the
// children it started, then "ready". What it said so far when it ended before that.
std::string start_until_ready(platform::Process& program, std::vector<std::string> args) {
  platform::ProcessOptions options{.program = test::u8(test::from_u8(QZ_HELPER_DIR) / "qz_tied_children" QZ_EXE),
                                   .args = std::move(args),
                                   .when_we_end = platform::WhenWeEnd::kKeepRunning};
  if (!program.start(options)) return "cannot start " + options.program;
  std::string output;
  char buffer[256];
  while (output.find("ready") == std::string::npos) {
    const std::size_t n = program.read_output(buffer, sizeof buffer);
    if (n == 0) break;
    output.append(buffer, n);
  }
  return output;
}

TEST(TiedChildren, AKilledProgramLeavesNoToolOrBrowserAfterTwoSeconds) {
  const std::string ffmpeg = test::test_ffmpeg();
  if (ffmpeg.empty()) GTEST_SKIP() << "no ffmpeg on this machine";
  test::TempFolder folder;
  std::vector<std::string> args{ffmpeg};
  const std::string profile = test::u8(folder / "profile");
#ifndef _WIN32
  const std::string browser = platform::find_browser();
  if (!browser.empty()) args.insert(args.end(), {browser, profile});
#endif
  platform::Process program;
  const std::string output = start_until_ready(program, args);
  ASSERT_NE(output.find("ready"), std::string::npos) << output;
  std::vector<int> children;
  std::istringstream lines(output);
  for (int id; lines >> id;) children.push_back(id);
  ASSERT_EQ(children.size(), args.size() == 1 ? 1u : 2u) << output;
#ifndef _WIN32
  std::vector<int> browser_family;
  if (children.size() == 2) {
    // Give the browser time to start its helpers, which must go with it.
    ui::HeadlessDesktop::wait_until([&] { return processes_mentioning(profile).size() > 2; }, 10s);
    browser_family = processes_mentioning(profile);
    EXPECT_FALSE(browser_family.empty());
  }
#endif
  for (int id : children) EXPECT_FALSE(platform::program_of_process(id).empty()) << id;

  ASSERT_TRUE(program.terminate());  // SIGKILL; on Windows TerminateProcess: nothing of ours runs
  ASSERT_TRUE(program.wait(5000));
  const bool all_gone = ui::HeadlessDesktop::wait_until([&] {
    for (int id : children)
      if (!platform::program_of_process(id).empty()) return false;
#ifndef _WIN32
    if (!processes_mentioning(profile).empty()) return false;
#endif
    return true;
  }, 2s);
  EXPECT_TRUE(all_gone);
  for (int id : children) platform::terminate_process(id);
#ifndef _WIN32
  for (int id : processes_mentioning(profile)) platform::terminate_process(id);
#endif
}

#ifndef _WIN32
// A tool asked to stop when its program is killed may not obey (an ffmpeg waiting on a live
// playlist, here a shell that ignores every interrupt): it is ended ten seconds later all the same.
TEST(TiedChildren, AToolThatIgnoresTheStopIsEndedTenSecondsAfterAKill) {
  platform::Process program;
  const std::string output = start_until_ready(program, {"--stubborn", "/bin/sh"});
  ASSERT_NE(output.find("ready"), std::string::npos) << output;
  const int tool = std::stoi(output);
  const std::string shell = platform::program_of_process(tool);
  ASSERT_FALSE(shell.empty());
  // The shell ignores interrupts once it has read its first command.
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] {
    const std::string status = test::read_bytes("/proc/" + std::to_string(tool) + "/status");
    const auto at = status.find("SigIgn:");
    return at != std::string::npos && (std::stoull(status.substr(at + 7), nullptr, 16) & (1u << (SIGINT - 1))) != 0;
  }, 10s));
  ASSERT_TRUE(program.terminate());
  ASSERT_TRUE(program.wait(5000));
  // Still there once the interrupts have come (the system's at the death, the keeper's after two
  // seconds), gone at ten; fifteen allow for a loaded machine.
  EXPECT_TRUE(ui::HeadlessDesktop::wait_until([&] { return platform::program_of_process(tool) != shell; }, 15s));
  platform::terminate_process(tool);
}
#endif

}  // namespace
}  // namespace qz::record
