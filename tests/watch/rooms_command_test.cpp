// `qiongzhi rooms ...` as a user or a script runs it: the real program (the console program on
// Windows), copied into a program folder of its own so its data/ lands there.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fs.h"
#include "platform/process.h"
#include "support/temp_folder.h"
#include "watch/rooms_file.h"

namespace qz::watch {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;
using test::u8;

std::string built_program() {
#ifdef _WIN32
  return std::string("Z:") + QZ_ROOMS_PROGRAM;  // Wine shows the Linux root as drive Z:
#else
  return QZ_ROOMS_PROGRAM;
#endif
}

struct RoomsCommand : ::testing::Test {
  TempFolder program;
  std::string binary = u8(program / fs::path(built_program()).filename().string());
  std::string list_file = rooms_path(program.str());

  void SetUp() override { fs::copy_file(test::from_u8(built_program()), test::from_u8(binary)); }

  struct Run {
    int code = -1;
    std::string output;  // standard output and error together
  };
  Run rooms(std::vector<std::string> args) const {
    args.insert(args.begin(), "rooms");
    platform::ProcessOptions options;
    options.program = binary;
    options.args = args;
    options.working_folder = program.str();
    options.when_we_end = platform::WhenWeEnd::kKill;
    platform::Process process;
    Run run;
    if (!process.start(options)) return run;
    char buffer[4096];
    while (const std::size_t n = process.read_output(buffer, sizeof buffer)) run.output.append(buffer, n);
    run.code = process.wait(60'000).value_or(-1);
    return run;
  }
  RoomList saved() const { return load_rooms(list_file).list; }
};

TEST_F(RoomsCommand, RoomsAreAddedOnceListedSwitchedAndRemoved) {
  const std::string first = "https://live.example.com/room?room=r1";
  const std::string second = "【小店🌸的直播间】https://v.example.com/AbC/ 复制此链接";
  Run run = rooms({"add", first, second});
  ASSERT_EQ(run.code, 0) << run.output;
  EXPECT_NE(run.output.find("已加入第 1 个直播间"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("已加入第 2 个直播间（未命名，https://v.example.com/AbC/）"), std::string::npos) << run.output;

  // The same rooms under other forms of their links are named, not added again.
  run = rooms({"add", "http://www.live.example.com/room?room=r1&utm_source=wx", "https://v.example.com/AbC"});
  EXPECT_EQ(run.code, 0) << run.output;
  EXPECT_NE(run.output.find("已在列表中，没有重复加入：第 1 个直播间"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("已在列表中，没有重复加入：第 2 个直播间"), std::string::npos) << run.output;
  ASSERT_EQ(saved().rooms.size(), 2u);

  struct Step {
    std::vector<std::string> args;
    const char* says;
    std::vector<bool> on_after;
  } steps[] = {
      {{"off", "2"}, "第 2 个直播间（未命名，https://v.example.com/AbC/）已暂停自动录制", {true, false}},
      {{"off", "http://live.example.com/room?room=r1"}, "已暂停", {false, false}},
      {{"on", "1"}, "第 1 个直播间（未命名，https://live.example.com/room?room=r1）已开启自动录制", {true, false}},
      {{"remove", "https://v.example.com/AbC?share_from=x"}, "已移除第 2 个直播间", {true}},
  };
  for (const Step& step : steps) {
    run = rooms(step.args);
    EXPECT_EQ(run.code, 0) << step.args[0] << ": " << run.output;
    EXPECT_NE(run.output.find(step.says), std::string::npos) << run.output;
    const RoomList list = saved();
    ASSERT_EQ(list.rooms.size(), step.on_after.size()) << step.args[0];
    for (std::size_t i = 0; i < list.rooms.size(); ++i) EXPECT_EQ(list.rooms[i].on, step.on_after[i]) << step.args[0];
  }

  run = rooms({"list"});
  EXPECT_EQ(run.code, 0) << run.output;
  EXPECT_NE(run.output.find("1. [开] （未命名）  https://live.example.com/room?room=r1"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("共 1 个直播间，每个约每 120 秒检查一次"), std::string::npos) << run.output;
}

TEST_F(RoomsCommand, BadInputIsToldAndChangesNothing) {
  ASSERT_EQ(rooms({"add", "https://example.com/live/1", "https://example.com/live/2"}).code, 0);
  const auto before = platform::read_file(list_file);
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* says;
  } cases[] = {
      {{}, 2, "缺少 rooms 的命令"},
      {{"frobnicate"}, 2, "rooms 的命令或参数不对：frobnicate"},
      {{"add"}, 2, "用法"},
      {{"add", "https://example.com/live/3", "not a link"}, 2, "不是有效的链接（需要 http:// 或 https:// 开头）：not a link"},
      {{"remove", "3"}, 2, "没有第 3 个直播间：列表共有 2 个"},
      {{"remove", "0"}, 2, "没有第 0 个直播间"},
      {{"off", "https://example.com/live/9"}, 2, "列表中没有这个直播间：https://example.com/live/9"},
      {{"on", "第二个"}, 2, "请给出直播间的序号或链接：第二个"},
      {{"remove", "1", "2"}, 2, "用法"},
      {{"list", "--shard", "3/3"}, 2, "--shard：分片 3/3 不成立"},
      {{"list", "--shard"}, 2, "用法"},
  };
  for (const Case& c : cases) {
    const Run run = rooms(c.args);
    const std::string what = c.args.empty() ? "(nothing)" : c.args[0];
    EXPECT_EQ(run.code, c.code) << what << ": " << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << what << ": " << run.output;
  }
  EXPECT_EQ(platform::read_file(list_file), before);  // not even the third link of the bad add
}

TEST_F(RoomsCommand, AHandEditedListShowsEveryCharacterAndKeepsWhatItCouldNotRead) {
  const std::string text =
      "[watch]\r\n自动录制=1\r\n"
      "[a]\r\nlink=https://example.com/live/1\r\nname=🌸한국어 小店\r\n"
      "oops, a stray line\r\n"
      "[b]\r\nlink=https://example.com/live/2\r\non=0\r\n";
  ASSERT_TRUE(platform::make_directories(u8(program / "data")));
  ASSERT_TRUE(platform::write_file(list_file, text));
  Run run = rooms({"list"});
  EXPECT_EQ(run.code, 0) << run.output;
  EXPECT_NE(run.output.find("自动录制：开"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("1. [开] 🌸한국어 小店  https://example.com/live/1"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("2. [停] （未命名）  https://example.com/live/2"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("第 6 行看不懂，已跳过"), std::string::npos) << run.output;
  EXPECT_EQ(platform::read_file(list_file), text);  // listing writes nothing

  run = rooms({"add", "https://example.com/live/3"});
  EXPECT_EQ(run.code, 0) << run.output;
  EXPECT_NE(run.output.find("rooms.ini.bak"), std::string::npos) << run.output;
  EXPECT_EQ(platform::read_file(list_file + ".bak"), text);
  const RoomList list = saved();
  ASSERT_EQ(list.rooms.size(), 3u);
  EXPECT_EQ(list.rooms[0].name, "🌸한국어 小店");
  EXPECT_TRUE(list.watching);
}

TEST_F(RoomsCommand, AListThatCannotBeWrittenIsSaid) {
  ASSERT_TRUE(platform::make_directories(list_file));  // a folder where the file should be
  const Run run = rooms({"add", "https://example.com/live/1"});
  EXPECT_EQ(run.code, 3) << run.output;
  EXPECT_NE(run.output.find("无法写入直播间列表"), std::string::npos) << run.output;
}

TEST_F(RoomsCommand, ACopyListsWhichRoomsItsShardLeavesToOthers) {
  ASSERT_TRUE(rooms({"add", "https://live.example.com/room?room=r1", "http://127.0.0.1:8080/room?room=r1"}).code == 0);
  // live.example.com/room?room=r1 hashes to 2 modulo 3, 127.0.0.1:8080/room?room=r1 to 0.
  ASSERT_TRUE(platform::write_file(u8(program / "data" / "config.ini"), "[config]\r\nwatch_shard=2/3\r\n"));
  Run run = rooms({"list"});
  const auto line_of = [&](const std::string& part) {
    const std::size_t at = run.output.find(part);
    if (at == std::string::npos) return std::string();
    const std::size_t start = run.output.rfind('\n', at) + 1;
    return run.output.substr(start, run.output.find('\n', at) - start);
  };
  EXPECT_EQ(run.code, 0) << run.output;
  EXPECT_EQ(line_of("live.example.com").find("不在本副本的分片"), std::string::npos) << run.output;
  EXPECT_NE(line_of("127.0.0.1:8080").find("（不在本副本的分片 2/3 中）"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("共 1 个直播间"), std::string::npos) << run.output;

  // --shard wins over the setting.
  run = rooms({"list", "--shard", "0/3"});
  EXPECT_EQ(run.code, 0) << run.output;
  EXPECT_NE(line_of("live.example.com").find("（不在本副本的分片 0/3 中）"), std::string::npos) << run.output;
  EXPECT_EQ(line_of("127.0.0.1:8080").find("不在本副本的分片"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace qz::watch
