// The process service and the Tool runner with the real ffmpeg.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "record/media_fixture.h"
#include "record/tool_runner.h"

namespace qz::record {
namespace {

using namespace std::chrono_literals;

struct ProcessTest : ::testing::Test {
  std::string ffmpeg = test::test_ffmpeg();
  void SetUp() override {
    if (ffmpeg.empty()) GTEST_SKIP() << "no ffmpeg on this machine";
  }
  // A tool that runs until it is stopped, writing progress lines.
  platform::ProcessOptions endless() const {
    return test::tool_options(ffmpeg, {"-hide_banner", "-re", "-f", "lavfi", "-i", "testsrc2=size=64x64:rate=10",
                                       "-f", "null", "-"});
  }
};

TEST_F(ProcessTest, TheRunnerShowsTheToolsOutputWithArgumentsIntact) {
  // The input name reaches ffmpeg as one argument, blanks, quote, Chinese letters and all, and
  // its complaint comes back decoded, with the marker line for the missing file.
  test::TempFolder folder;
#ifdef _WIN32
  const std::string name = test::u8(folder / "没有 这个 文件.flv");
#else
  const std::string name = test::u8(folder / "没有 \"这个\" 文件\\.flv");
#endif
  ToolCommand command = ffmpeg_copy_command(ffmpeg, name, kReplayPort, test::u8(folder / "out.mp4"));
  ToolJob job;
  std::vector<std::string> lines;
  run_tool(job, command, [&](const std::string& line) { lines.push_back(line); });
  EXPECT_TRUE(job.finished());
  std::string all;
  for (const auto& l : lines) all += l;
  EXPECT_NE(all.find("输入/输出 的 文件/路径 不存在"), std::string::npos) << all;
  // Without the marker row the chunk itself would show the name; check ffmpeg saw it whole.
  const auto plain = test::run_tool_to_end(test::tool_options(ffmpeg, {"-hide_banner", "-i", name, "-f", "null", "-"}));
  EXPECT_NE(plain.output.find(name), std::string::npos) << plain.output;
}

TEST_F(ProcessTest, AGracefulStopLetsTheToolFinishAndTerminateEndsItAtOnce) {
  for (bool graceful : {true, false}) {
    platform::Process p;
    ASSERT_TRUE(p.start(endless()));
    EXPECT_GT(p.id(), 0);
    std::string output;
    char buffer[1024];
    while (output.find("frame=") == std::string::npos) {
      const std::size_t n = p.read_output(buffer, sizeof buffer);
      ASSERT_GT(n, 0u);
      output.append(buffer, n);
    }
    EXPECT_FALSE(p.wait(0));
    EXPECT_TRUE(graceful ? p.stop_gracefully() : p.terminate());
    while (const std::size_t n = p.read_output(buffer, sizeof buffer)) output.append(buffer, n);
    ASSERT_TRUE(p.wait(10000));
    EXPECT_EQ(output.find("muxing overhead:") != std::string::npos, graceful) << output;
    EXPECT_FALSE(p.stop_gracefully());  // it has ended: nothing is signalled
  }
}

TEST_F(ProcessTest, AStopBeforeTheStartKeepsTheToolFromStarting) {
  ToolJob job;
  job.request_stop();
  std::vector<std::string> lines;
  run_tool(job, {ffmpeg, endless().args},
           [&](const std::string& line) { lines.push_back(line); });
  EXPECT_TRUE(lines.empty());
  EXPECT_FALSE(job.process().started());
}

// A program's output ends with the program, even while something it started holds a copy of the
// pipe and writes nothing: the holder is still running when the reading is over.
TEST(Process, TheOutputEndsWithTheProgramThoughAChildHoldsIt) {
  platform::Process p;
  ASSERT_TRUE(p.start(test::tool_options(QZ_OUTPUT_HOLDER, {})));
  std::string output;
  char buffer[256];
  while (const std::size_t n = p.read_output(buffer, sizeof buffer)) output.append(buffer, n);
  ASSERT_NE(output.find("done"), std::string::npos) << output;
  const int holder = std::stoi(output);
  EXPECT_FALSE(platform::program_of_process(holder).empty()) << "the reader waited for the holder to end";
  EXPECT_EQ(p.wait(10000), 0);
  platform::terminate_process(holder);
}

#ifdef _WIN32
// A child gets the handles named for it and no other: an inheritable pipe end that another part of
// the program holds while a tool starts must not stay open for as long as that tool lives.
TEST(Process, AChildInheritsOnlyTheHandlesNamedForIt) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, &inherit, 0));
  platform::Process child;
  ASSERT_TRUE(child.start(test::tool_options(QZ_OUTPUT_HOLDER, {"hold"})));
  ::CloseHandle(write_end);
  // With our write end closed the pipe has a writer left only if the child took a copy.
  DWORD available = 0;
  EXPECT_FALSE(::PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr))
      << "the child inherited a handle that was not named for it";
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  child.terminate();
  child.wait(10000);
  ::CloseHandle(read_end);
}
#endif

TEST(Process, AMissingProgramDoesNotStart) {
  platform::Process p;
  EXPECT_FALSE(p.start(test::tool_options(test::u8(test::TempFolder().path() / "nothing.exe"), {})));
  EXPECT_EQ(p.id(), 0);
  char c;
  EXPECT_EQ(p.read_output(&c, 1), 0u);
  EXPECT_FALSE(p.wait(0));
}

}  // namespace
}  // namespace qz::record
