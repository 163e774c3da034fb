// The command line as a script uses it: a real program, real Chromium, real ffmpeg, loopback.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "fixtures/http_server.h"
#include "fixtures/platform_site/platform_site.h"
#include "platform/process.h"
#include "platform/text_codec.h"

#include <fstream>

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

}  // namespace
}  // namespace qz::test
