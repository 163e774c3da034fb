// The Windows command line built from a program and its arguments, checked against the way the
// C runtime splits a command line back into arguments.
#include "platform/win32/command_line.h"

#include <gtest/gtest.h>

namespace qz::platform {
namespace {

std::vector<std::string> split_like_crt(const std::string& line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      std::size_t slashes = 0;
      while (i < line.size() && line[i] == '\\') ++slashes, ++i;
      if (i < line.size() && line[i] == '"') {
        arg.append(slashes / 2, '\\');
        if (slashes % 2) {
          arg += '"';
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(slashes, '\\');
        if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) arg += line[i++];
      }
    }
    out.push_back(arg);
  }
  return out;
}

TEST(WindowsCommandLine, EveryArgumentSurvivesTheRuntimeSplit) {
  const std::vector<std::string> args{"plain", "with blank", "trailing\\", "C:\\dir with blank\\",
                                      "quote\"inside", "slashes\\\\\"quote", "", "\\\\server\\share\\a b",
                                      "tab\there", "\"", "\\", "下载 目录\\zhibo_1.mp4",
                                      "https://cdn.test/a.flv?x=1&y=2", "--user-data-dir=C:\\a b\\"};
  const std::string program = "C:\\Program Files\\琼枝\\ffm.exe";
  const std::string line = windows_command_line(program, args);
  std::vector<std::string> expected{program};
  expected.insert(expected.end(), args.begin(), args.end());
  EXPECT_EQ(split_like_crt(line), expected) << line;
}

TEST(WindowsCommandLine, PlainArgumentsStayReadable) {
  EXPECT_EQ(windows_command_line("C:\\q\\ffm.exe", {"-hide_banner", "-i", "http://h/a.flv", "-c", "copy"}),
            "C:\\q\\ffm.exe -hide_banner -i http://h/a.flv -c copy");
  EXPECT_EQ(quote_windows_argument("a b\\"), "\"a b\\\\\"");
  EXPECT_EQ(quote_windows_argument(""), "\"\"");
}

}  // namespace
}  // namespace qz::platform
