// The command line as a script uses it: a real program, real Chromium, real ffmpeg, loopback.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "fixtures/hls_cdn.h"
#include "fixtures/http_server.h"
#include "fixtures/platform_site/platform_site.h"
#include "platform/process.h"
#include "platform/text_codec.h"
#include "ui/headless/headless_desktop.h"

#include <fstream>
#include <regex>

namespace qz::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct CliFixture : ::testing::Test {
  TempFolder program;  // the program folder: a copy of the binary, so data/ lands here
  fs::path binary = program / "qiongzhi";
  fs::path out = program.path().parent_path() / "out.txt";
  HttpServer server;
  PlatformSite site{server, server.base_url() + "/cdn"};

  void SetUp() override {
    fs::copy_file(fs::path(QZ_BINARY_DIR) / "src/qiongzhi", binary);
  }
  // A machine without a display, as a server or a scheduled script has: only --headless asks for
  // a headless browser (no QIONGZHI_BROWSER_HEADLESS).
  std::vector<std::string> env() const {
    return {"QIONGZHI_LIVE_HOST=" + site.base(), "QIONGZHI_REPLAY_CDN=" + site.base() + "/cdn",
            "QIONGZHI_BROWSER_FLAGS=--no-sandbox --disable-gpu", "DISPLAY=", "WAYLAND_DISPLAY=",
            "HOME=" + u8(program.path().parent_path())};
  }
  std::vector<std::string> args(std::vector<std::string> rest) const {
    rest.insert(rest.begin(), u8(binary));
    return rest;
  }
  std::string output() const { return read_bytes(out); }
};

TEST_F(CliFixture, BadInputGetsAMessageAndAScriptableCode) {
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* says;
  } cases[] = {
      {{"--help"}, 0, "用法"},
      {{"record"}, 2, "缺少链接"},
      {{"record", "not a url"}, 2, "不是有效的链接"},
      {{"frobnicate", "http://x"}, 2, "未知命令"},
      {{"record", "http://x", "--timeout", "soon"}, 2, "--timeout"},
      {{"download", "http://127.0.0.1:9/v.m3u8", "--dir", "/dev/null/sub"}, 3, "下载目录无法写入"},
  };
  for (const Case& c : cases) {
    Child child(args(c.args), env(), u8(out));
    EXPECT_EQ(child.wait(30s), c.code) << c.args[0];
    EXPECT_NE(output().find(c.says), std::string::npos) << output();
  }
}

TEST_F(CliFixture, MissingToolsAndBrowserAreToldNotHung) {
  {  // no ffmpeg in the program folder nor on the search path
    Child child(args({"download", server.base_url() + "/v.m3u8", "--dir", u8(program / "down")}),
                {"PATH=/nonexistent"}, u8(out));
    EXPECT_EQ(child.wait(60s), 6);
    EXPECT_NE(output().find("不存在"), std::string::npos) << output();
  }
  {  // the configured browser does not exist
    auto e = env();
    e.push_back("QIONGZHI_BROWSER_PATH=/nonexistent/chrome");
    Child child(args({"record", site.room_url("r1"), "--dir", u8(program / "down"), "--timeout", "10"}), e, u8(out));
    EXPECT_EQ(child.wait(60s), 4);
    EXPECT_NE(output().find("浏览器"), std::string::npos) << output();
  }
  {  // no display and no --headless: the browser cannot show its window, and that is what is said
    Child child(args({"record", site.room_url("r1"), "--dir", u8(program / "down"), "--timeout", "60"}), env(), u8(out));
    EXPECT_EQ(child.wait(60s), 4);
    EXPECT_NE(output().find("浏览器启动失败：没有可显示浏览器窗口的图形界面"), std::string::npos) << output();
    EXPECT_EQ(output().find("没有得到直播真实地址"), std::string::npos) << output();
  }
  {  // a page that never names a stream
    Child child(args({"record", server.base_url() + "/no-such-room", "--dir", u8(program / "down"),
                      "--timeout", "5", "--headless"}), env(), u8(out));
    EXPECT_EQ(child.wait(60s), 5);
    EXPECT_NE(output().find("没有得到直播真实地址"), std::string::npos) << output();
  }
}

TEST_F(CliFixture, RecordStopsCleanlyOnInterruptLeavingAPlayableFile) {
  LiveSource live(test_ffmpeg());
  server.route_prefix("/stream/", [&](const HttpRequest&) {
    return HttpResponse{302, {{"Location", live.address()}}, ""};
  });
  const fs::path down = program / "down";
  Child child(args({"record", site.room_url("r1"), "--dir", u8(down), "--headless"}), env(), u8(out));
  const fs::path file = down / "zhibo_1.mp4";
  const auto until = std::chrono::steady_clock::now() + 60s;
  while (!(fs::exists(file) && fs::file_size(file) > 50000) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(fs::exists(file)) << output();
  const auto started = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(4s);
  child.signal(SIGINT);
  EXPECT_EQ(child.wait(40s), 0) << output();
  const double recorded = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double duration = probe_duration(file);
  EXPECT_GT(duration, 3.0) << output();
  EXPECT_LT(duration, recorded + 6.0);
  EXPECT_NE(output().find("任务完成"), std::string::npos) << output();
  EXPECT_NE(output().find("开始下载："), std::string::npos);
}

TEST_F(CliFixture, ReplayFromTheDashboardDownloadsTheFirstPlaylist) {
  const fs::path vod = program.path().parent_path() / "vod";
  ASSERT_TRUE(serve_vod_at(server, vod, 5, "/cdn/replay/4242/", "first.m3u8"));
  const fs::path down = program / "down";
  Child child(args({"replay", site.base() + "/dashboard?from=cli&polls=4&showId=4242", "--headless", "--dir", u8(down)}),
              env(), u8(out));
  EXPECT_EQ(child.wait(120s), 0) << output();
  EXPECT_NEAR(probe_duration(down / "huifang_1.mp4"), 5.0, 1.0) << output();
  EXPECT_NE(output().find(site.first_playlist()), std::string::npos) << output();
  // The replay pages are desktop pages, as the window's replay list opens them.
  for (const HttpRequest& r : server.requests())
    if (r.path == "/dashboard") EXPECT_NE(r.header("User-Agent").find("Windows NT 10.0"), std::string::npos);
  // The progress is one terminal line rewritten in place, never a new line each second.
  EXPECT_NE(output().find("\r回放下载：已完成 5/5 段（100.0%）"), std::string::npos) << output();
  EXPECT_EQ(output().find("\n回放下载："), std::string::npos) << output();
}

// A relative --dir is where the user stands, not the program's folder.
TEST_F(CliFixture, ARelativeFolderIsTakenFromTheCurrentFolder) {
  ASSERT_TRUE(serve_vod(server, test_ffmpeg(), program.path().parent_path() / "vod", 2));
  const fs::path here = program.path().parent_path() / "用户 所在";
  fs::create_directories(here);
  Child child(args({"download", server.base_url() + "/vod/index.m3u8", "--dir", "下载"}), env(), u8(out), u8(here));
  EXPECT_EQ(child.wait(120s), 0) << output();
  EXPECT_NEAR(probe_duration(here / "下载" / "huifang_1.mp4"), 2.0, 1.0) << output();
  EXPECT_FALSE(fs::exists(program / "下载"));
}

// Two copies of the program started from one folder, both recording into the same download
// folder with the folder's own ffmpeg: the second's live start, and its stop, never end the
// first's tool.
TEST_F(CliFixture, TwoCopiesInOneFolderNeverEndEachOthersTool) {
  LiveSource first_source(test_ffmpeg()), second_source(test_ffmpeg());
  server.route_prefix("/stream/", [&](const HttpRequest& r) {
    const bool second = r.path.find("/stream/second") == 0;
    return HttpResponse{302, {{"Location", (second ? second_source : first_source).address()}}, ""};
  });
  const fs::path tool = program / "ffmpeg";  // the tool in the program folder, as the program provides it
  fs::copy_file(test_ffmpeg(), tool);
  const fs::path down = program / "down";
  const fs::path first_out = program.path().parent_path() / "first.txt";
  const auto grows = [](const fs::path& file, std::uintmax_t beyond) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return !ec && size > beyond;
  };
  const auto tools_of = [&](const Child& copy) {
    std::vector<int> ids;
    for (const auto& p : platform::processes_running_program(u8(tool)))
      if (p.parent_id == copy.id()) ids.push_back(p.id);
    return ids;
  };
  // Waits up to 30 s for `file` to pass `beyond` bytes.
  const auto wait_growth = [&](const fs::path& file, std::uintmax_t beyond) {
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (!grows(file, beyond) && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(200ms);
    return grows(file, beyond);
  };

  Child first(args({"record", site.room_url("first"), "--headless"}), env(), u8(first_out));
  const fs::path first_file = down / "zhibo_1.mp4";
  ASSERT_TRUE(wait_growth(first_file, 50000)) << read_bytes(first_out);
  const std::vector<int> first_tools = tools_of(first);
  ASSERT_EQ(first_tools.size(), 1u) << read_bytes(first_out);

  {
    Child second(args({"record", site.room_url("second"), "--headless"}), env(), u8(out));
    const fs::path second_file = down / "zhibo_2.mp4";
    ASSERT_TRUE(wait_growth(second_file, 50000)) << output();
    EXPECT_EQ(tools_of(first), first_tools);
    EXPECT_TRUE(wait_growth(first_file, fs::file_size(first_file))) << read_bytes(first_out);
    second.signal(SIGINT);
    EXPECT_EQ(second.wait(40s), 0) << output();
    EXPECT_GT(probe_duration(second_file), 1.0) << output();
  }
  EXPECT_EQ(tools_of(first), first_tools);
  EXPECT_TRUE(wait_growth(first_file, fs::file_size(first_file))) << read_bytes(first_out);
  first.signal(SIGINT);
  EXPECT_EQ(first.wait(40s), 0) << read_bytes(first_out);
  EXPECT_GT(probe_duration(first_file), 3.0) << read_bytes(first_out);
}

// An address and a folder saved by an earlier run load on a thread of their own: the ones given
// on the command line still win.
TEST_F(CliFixture, SavedSettingsNeverOverwriteTheGivenFolder) {
  fs::create_directories(program / "data");
  const fs::path old_folder = program / "old";
  {  // what "保存配置" left behind in an earlier run
    std::ofstream ini(program / "data/setsoft.ini", std::ios::binary);
    ini << platform::utf8_to_gbk("[编辑框]\r\n编辑框_下载目录=" + u8(old_folder) + "\r\n");
  }
  LiveSource live(test_ffmpeg());
  server.route_prefix("/stream/", [&](const HttpRequest&) {
    return HttpResponse{302, {{"Location", live.address()}}, ""};
  });
  const fs::path down = program / "given";
  Child child(args({"record", site.room_url("s1"), "--headless", "--dir", u8(down)}), env(), u8(out));
  const fs::path file = down / "zhibo_1.mp4";
  const auto until = std::chrono::steady_clock::now() + 60s;
  while (!fs::exists(file) && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(fs::exists(file)) << output();
  child.signal(SIGINT);
  EXPECT_EQ(child.wait(40s), 0) << output();
  EXPECT_FALSE(fs::exists(old_folder / "zhibo_1.mp4"));
}

// A replay CDN whose segments come slowly enough for a download to be stopped halfway: a 40 s
// clip in 1 s segments, each file answered at 40 KB/s.
struct SlowCdn {
  explicit SlowCdn(HttpServer& server, const fs::path& folder) : cdn(server, test_ffmpeg(), folder) {
    made = cdn.make(40);
    // A playlist another tool wrote, with a comment before its first line: not HLS to anyone.
    if (made) write_bytes(folder / "comment.m3u8", "# exported by a recorder\n" + read_bytes(folder / "plain.m3u8"));
    cdn.serve(100, 40000);
  }
  HlsCdn cdn;
  bool made = false;
};

bool grows_past(const fs::path& file, std::uintmax_t bytes) {
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  return !ec && size > bytes;
}

// True once the download is under way into `file`; for a live playlist, once ffmpeg has also read
// all its segments and waits for more (it asks for the playlist again, after the program's own
// look and its own first read), the wait in which it only notes the first interrupt.
bool under_way(HttpServer& server, const std::string& playlist, const fs::path& file) {
  if (!grows_past(file, 1000)) return false;
  if (playlist != "live.m3u8") return true;
  int asked = 0;
  for (const HttpRequest& r : server.requests()) asked += r.path == "/hls/" + playlist;
  return asked >= 3;
}

// Whatever ends a replay, the last lines say what was kept, and the exit code agrees: a stop
// keeps a file that plays and exits 0; an address nobody can read is named as such.
TEST_F(CliFixture, EveryReplayEndsWithWhatItKept) {
  SlowCdn slow(server, program.path().parent_path() / "cdn");
  ASSERT_TRUE(slow.made);
  struct Row {
    const char* name;
    std::string playlist;  // under the CDN's /hls/
    bool stop;             // SIGTERM once the file holds its first fragments
    int code;
    std::vector<std::string> says, never_says;
    bool plays;
  };
  const std::string comment_address = slow.cdn.address("comment.m3u8");
  const Row rows[] = {
      {"comment first", "comment.m3u8", false, 6,
       {"不是可识别的回放列表：" + comment_address + "（第一行是“# exported by a recorder”，不是 #EXTM3U；ffmpeg 也无法读取）"},
       {"下载完成", "任务完成"}, false},
      // ffmpeg follows a playlist without an end itself, and waits on it past its first interrupt.
      {"live playlist stopped", "live.m3u8", true, 0, {"正在停止并保存文件……", "任务完成"}, {"没有保存任何内容"}, true},
      {"long ended replay stopped", "plain.m3u8", true, 0,
       {"正在停止并保存文件……", "回放下载已停止：保存了开头的 ", "任务完成"}, {"没有保存任何内容"}, true},
  };
  int n = 0;
  for (const Row& row : rows) {
    const fs::path down = program / ("down" + std::to_string(++n));
    const fs::path file = down / "huifang_1.mp4";
    Child child(args({"download", slow.cdn.address(row.playlist), "--dir", u8(down)}), env(), u8(out));
    if (row.stop) {
      ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return under_way(server, row.playlist, file); }, 60s))
          << row.name << "\n" << output();
      child.signal(SIGTERM);
    }
    EXPECT_EQ(child.wait(120s), row.code) << row.name << "\n" << output();
    const std::string said = output();
    for (const std::string& text : row.says) EXPECT_NE(said.find(text), std::string::npos) << row.name << ": " << text << "\n" << said;
    for (const std::string& text : row.never_says) EXPECT_EQ(said.find(text), std::string::npos) << row.name << ": " << text << "\n" << said;
    const double seconds = probe_duration(file);
    if (!row.plays) {
      EXPECT_LT(seconds, 0) << row.name;
      continue;
    }
    ASSERT_GT(seconds, 0.5) << row.name << "\n" << said;
    // The file is named after the finished message, with the length it plays for.
    EXPECT_NE(said.find("下载完成，请查看软件运行目录的mp4文件：\r\n\r\n" + u8(file) + "（时长 "), std::string::npos)
        << row.name << "\n" << said;
    std::smatch kept;
    if (std::regex_search(said, kept, std::regex("保存了开头的 (\\d+)/(\\d+) 段"))) {
      // What the stop line says was kept is what plays: one second a segment.
      EXPECT_LT(std::stoi(kept[1]), std::stoi(kept[2])) << said;
      EXPECT_NEAR(seconds, std::stod(kept[1]), 1.5) << said;
    }
  }
}

// A program killed outright leaves none of its ffmpegs running: not the replay's remux and
// preview feed (which read from a loopback server that went with it), not the ffmpeg that follows
// a live playlist (which waits on it past the interrupt the system sends at its parent's death).
TEST_F(CliFixture, AKilledProgramLeavesNoFfmpegOfItsOwn) {
  SlowCdn slow(server, program.path().parent_path() / "cdn");
  ASSERT_TRUE(slow.made);
  const std::string ffmpeg = u8(fs::canonical(test_ffmpeg()));  // as the system names a running program
  for (const char* playlist : {"plain.m3u8", "live.m3u8"}) {
    const fs::path down = program / (std::string("killed_") + playlist);
    Child child(args({"download", slow.cdn.address(playlist), "--dir", u8(down)}), env(), u8(out));
    ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return under_way(server, playlist, down / "huifang_1.mp4"); }, 60s))
        << playlist << "\n" << output();
    std::vector<platform::RunningProcess> tools;
    for (const auto& p : platform::processes_running_program(ffmpeg))
      if (p.parent_id == child.id()) tools.push_back(p);
    ASSERT_FALSE(tools.empty()) << playlist;
    child.signal(SIGKILL);
    child.wait(10s);
    // The keeper interrupts them again two seconds after the death and ends them at ten.
    const bool all_gone = ui::HeadlessDesktop::wait_until([&] {
      for (const auto& tool : tools)
        if (platform::program_of_process(tool.id) == ffmpeg) return false;
      return true;
    }, 15s);
    EXPECT_TRUE(all_gone) << playlist;
    for (const auto& tool : tools)
      if (platform::program_of_process(tool.id) == ffmpeg) platform::terminate_process(tool.id);
  }
}

}  // namespace
}  // namespace qz::test
