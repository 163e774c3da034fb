#include "provisioning/tool_provisioning.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "app/application.h"
#include "app/controls.h"
#include "fixtures/maker_server/maker_server.h"
#include "net/sha256.h"
#include "platform/fs.h"
#include "platform/os_info.h"
#include "net/file_downloader.h"
#include "record/install.h"
#include "record/media_fixture.h"
#include "record/recording_jobs.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_desktop.h"

namespace qz::provisioning {
namespace {

using namespace std::chrono_literals;

// Each test takes task numbers from a list of its own, as a fresh program start would.
std::string fresh_user() {
  static std::atomic<int> n{0};
  return "provisioning-test-" + std::to_string(++n);
}

std::string pattern(std::uint64_t size) {
  std::string bytes(size, '\0');
  test::pattern_bytes(0, bytes.data(), bytes.size());
  return bytes;
}

TEST(ToolProvisioningRules, MissingToolsAndTheirSourcesByBitness) {
  struct Case {
    bool ffmpeg_there, ffplay_there, windows_64bit;
    std::vector<std::pair<std::string, std::string>> expected;  // source, target file name
  } cases[] = {
      {true, true, false, {}},
      {true, true, true, {}},
      {false, false, true, {{"/tool/ffmpeg.exe", "ffm.exe"}, {"/tool/ffplay.exe", "ffplay.exe"}}},
      {false, false, false, {{"/tool/ffmpeg32.exe", "ffm.exe"}, {"/tool/ffplay32.exe", "ffplay.exe"}}},
      {true, false, false, {{"/tool/ffplay32.exe", "ffplay.exe"}}},
      {false, true, true, {{"/tool/ffmpeg.exe", "ffm.exe"}}},
  };
  for (const Case& c : cases) {
    test::TempFolder folder;
    app::WindowModel window;
    ui::HeadlessDesktop desktop;
    app::Context ctx{window, desktop, folder.str(), {}, platform::join_path(folder.str(), "ffm.exe")};
    // Any file of the name counts, whatever it holds.
    if (c.ffmpeg_there) test::write_bytes(folder / "ffm.exe", "");
    if (c.ffplay_there) test::write_bytes(folder / "ffplay.exe", "x");
    const auto downloads = missing_tool_downloads(ctx, c.windows_64bit);
    ASSERT_EQ(downloads.size(), c.expected.size());
    for (std::size_t i = 0; i < downloads.size(); ++i) {
      EXPECT_EQ(downloads[i].source_path, c.expected[i].first);
      EXPECT_EQ(downloads[i].target, platform::join_path(folder.str(), c.expected[i].second));
    }
  }
}

TEST(ToolProvisioningRules, ProgressText) {
  const std::string tail = "%    \r\n\r\n组件缺失，请在下载完成组件后，再开始下载直播";
  struct Case {
    int task;
    std::int64_t total, downloaded;
    std::string text;
  } cases[] = {
      {1, 1048576, 524288, "1:已完成524288/1048576\r\n进度：50" + tail},
      {2, 3, 1, "2:已完成1/3\r\n进度：33.33333333333" + tail},
      {1, 8, 3, "1:已完成3/8\r\n进度：37.5" + tail},
      {2, 2097153, 2097153, "2:已完成2097153/2097153\r\n进度：100" + tail},
      {1, 0, 0, "1:已完成0/0\r\n进度：0" + tail},  // the report of a failed download
  };
  for (const Case& c : cases) EXPECT_EQ(tool_progress_text(c.task, c.total, c.downloaded), c.text);
}

struct ProvisioningFixture : ::testing::Test {
  test::MakerServer server;
  test::TempFolder folder;
  app::WindowModel window;
  ui::HeadlessDesktop desktop;
  app::Context ctx{window, desktop, folder.str(), {}, platform::join_path(folder.str(), "ffm.exe")};
  std::string user = fresh_user();

  void SetUp() override {
    ctx.config.tool_host = server.tool_host();
    ctx.config.ca_file = server.ca_file();
  }
  void wait_for(const std::vector<int>& tasks) {
    for (int task : tasks)
      if (task > 0) ASSERT_TRUE(net::FileDownloader{}.Wait(user, task, 60000));
  }
  std::vector<std::string> folder_files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder.path())) names.push_back(test::u8(e.path().filename()));
    return names;
  }
};

TEST_F(ProvisioningFixture, MissingToolsArriveWholeWithTheirProgressShown) {
  std::vector<std::string> shown;
  std::mutex shown_mutex;
  struct Recorder final : app::WindowObserver {
    app::WindowModel* window;
    std::vector<std::string>* shown;
    std::mutex* mutex;
    void control_changed(const app::ControlChange& change) override {
      if (change.what != app::ControlChange::What::Text || change.name != app::kDisplayBox) return;
      std::lock_guard lock(*mutex);
      shown->push_back(window->text(app::kDisplayBox));
    }
  } recorder;
  recorder.window = &window;
  recorder.shown = &shown;
  recorder.mutex = &shown_mutex;
  window.set_observer(&recorder);

  const auto tasks = start_tool_downloads(ctx, missing_tool_downloads(ctx, true), user);
  EXPECT_EQ(tasks, (std::vector<int>{1, 2}));
  wait_for(tasks);
  window.set_observer(nullptr);

  EXPECT_TRUE(test::read_bytes(folder / "ffm.exe") == pattern(test::MakerServer::kFfmpegSize));
  EXPECT_TRUE(test::read_bytes(folder / "ffplay.exe") == pattern(test::MakerServer::kFfplaySize));
  // Only the two tools are left in the folder: no temporary files.
  auto files = folder_files();
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"ffm.exe", "ffplay.exe"}));

  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), kToolsDownloadingText);
  const std::string ffmpeg_done = tool_progress_text(1, test::MakerServer::kFfmpegSize, test::MakerServer::kFfmpegSize);
  const std::string ffplay_done = tool_progress_text(2, test::MakerServer::kFfplaySize, test::MakerServer::kFfplaySize);
  EXPECT_NE(std::find(shown.begin(), shown.end(), ffmpeg_done), shown.end());
  EXPECT_NE(std::find(shown.begin(), shown.end(), ffplay_done), shown.end());
  EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](const std::string& s) {
    return s.rfind("1:已完成", 0) == 0 && s.find("进度：100%") == std::string::npos;
  })) << "a report before the end";
  // Three parts at most for each tool.
  EXPECT_LE(server.http().max_in_flight(), 6);
}

TEST_F(ProvisioningFixture, OnlyFfplayMissingIsTaskOne) {
  test::write_bytes(folder / "ffm.exe", "present");
  const auto tasks = start_tool_downloads(ctx, missing_tool_downloads(ctx, false), user);
  EXPECT_EQ(tasks, (std::vector<int>{1}));
  wait_for(tasks);
  EXPECT_EQ(test::read_bytes(folder / "ffm.exe"), "present");
  EXPECT_TRUE(test::read_bytes(folder / "ffplay.exe") == pattern(test::MakerServer::kFfplay32Size));
  EXPECT_EQ(server.http().request_count("/tool/ffmpeg32.exe"), 0);
  EXPECT_EQ(window.text(app::kDisplayBox),
            tool_progress_text(1, test::MakerServer::kFfplay32Size, test::MakerServer::kFfplay32Size));
}

TEST_F(ProvisioningFixture, AToolThatDoesNotArriveWholeLeavesNoFile) {
  test::FileOptions dropping;
  dropping.drop_after = 300000;
  server.http().serve_file("/tool/broken.exe", 3 * 1048576, test::pattern_bytes, dropping);
  const std::vector<ToolDownload> downloads = {
      {"/tool/nowhere.exe", platform::join_path(folder.str(), "ffm.exe")},     // 404
      {"/tool/broken.exe", platform::join_path(folder.str(), "ffplay.exe")},  // cut short
  };
  const auto tasks = start_tool_downloads(ctx, downloads, user);
  ASSERT_EQ(tasks.size(), 2u);
  EXPECT_EQ(tasks[0], -1);
  wait_for(tasks);
  EXPECT_TRUE(folder_files().empty());
  // The next start finds both missing again.
  EXPECT_EQ(missing_tool_downloads(ctx, false).size(), 2u);
  // Both failures are named, whichever way each failed (no start, a failed report), and say
  // what to do; neither is overwritten.
  EXPECT_EQ(window.text(app::kDisplayBox),
            tool_failed_text("ffm.exe", false) + "\r\n" + tool_failed_text("ffplay.exe", false));
  EXPECT_NE(window.text(app::kDisplayBox).find("请把 ffm.exe 和 ffplay.exe 放到程序目录"), std::string::npos);
}

TEST(ToolProvisioningRules, ToolAddressIsHttpsUnlessTheHostNamesItsScheme) {
  struct Case {
    const char* host;
    const char* address;
  } cases[] = {
      {"tools.maker.invalid", "https://tools.maker.invalid/tool/ffmpeg32.exe"},
      {"127.0.0.1:8443", "https://127.0.0.1:8443/tool/ffmpeg32.exe"},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080/tool/ffmpeg32.exe"},
      {"HTTP://127.0.0.1:8080/", "HTTP://127.0.0.1:8080/tool/ffmpeg32.exe"},
      {"https://tools.maker.invalid/", "https://tools.maker.invalid/tool/ffmpeg32.exe"},
  };
  for (const Case& c : cases) EXPECT_EQ(tool_address(c.host, "/tool/ffmpeg32.exe"), c.address) << c.host;
}

// What the tool server says beside a tool decides whether it may land: a matching digest or none
// (404) lets it in; a digest that differs, one that cannot be read, or a server that cannot be
// trusted leaves no tool and names it.
TEST_F(ProvisioningFixture, ToolsArriveOnlyOverVerifiedHttpsAndOnlyWhenTheirDigestMatches) {
  const std::string good = pattern(test::MakerServer::kFfplay32Size);
  struct Case {
    const char* name;
    std::string tool_host;
    int digest_status;
    std::string digest;
    bool arrives;
    bool mismatch;
  } cases[] = {
      {"digest matches", server.tool_host(), 200, net::sha256_hex(good) + "  ffplay32.exe\n", true, false},
      {"no digest offered", server.tool_host(), 404, "", true, false},
      {"digest differs", server.tool_host(), 200, net::sha256_hex("another program"), false, true},
      {"digest unreadable", server.tool_host(), 200, "not a digest", false, false},
      {"digest server fails", server.tool_host(), 500, "", false, false},
      // The tool server speaks plain http where https is configured: refused at the handshake.
      {"plain server for https", "127.0.0.1:" + std::to_string(server.http().port()), 404, "", false, false},
      // The user named a plain local server: no certificate, the digest still holds.
      {"explicit http", server.plain_url(), 200, net::sha256_hex(good), true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(folder / "ffplay.exe");
    test::write_bytes(folder / "ffm.exe", "present");
    const int status = c.digest_status;
    const std::string digest = c.digest;
    server.http().route("/tool/ffplay32.exe.sha256", [status, digest](const test::HttpRequest&) {
      return test::HttpResponse{status, {}, digest};
    });
    ctx.config.tool_host = c.tool_host;
    window.set_text(app::kDisplayBox, "");
    const auto tasks = start_tool_downloads(ctx, missing_tool_downloads(ctx, false), user);
    wait_for(tasks);
    EXPECT_EQ(std::filesystem::exists(folder / "ffplay.exe"), c.arrives);
    if (c.arrives) EXPECT_TRUE(test::read_bytes(folder / "ffplay.exe") == good);
    auto files = folder_files();
    std::sort(files.begin(), files.end());
    const std::vector<std::string> expected =
        c.arrives ? std::vector<std::string>{"ffm.exe", "ffplay.exe"} : std::vector<std::string>{"ffm.exe"};
    EXPECT_EQ(files, expected);
    if (!c.arrives) EXPECT_EQ(window.text(app::kDisplayBox), tool_failed_text("ffplay.exe", c.mismatch));
  }
}

// A tool server may send the download on over https; never down to plain http (whose server is
// not even asked), and not round without end.
TEST_F(ProvisioningFixture, ToolRedirectsAreFollowedOnlyOverHttpsAndOnlySoFar) {
  server.http().serve_file("/tool/moved/ffplay32.exe", test::MakerServer::kFfplay32Size, test::pattern_bytes);
  server.http().route("/tool/round", [](const test::HttpRequest&) {
    return test::HttpResponse{302, {{"Location", "/tool/round"}}, ""};
  });
  struct Case {
    const char* name;
    std::string location;
    bool arrives;
  } cases[] = {
      {"on over https", "/tool/moved/ffplay32.exe", true},  // relative: the same https server
      {"down to plain http", server.plain_url() + "/tool/ffplay.exe", false},
      {"round without end", "/tool/round", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(folder / "ffplay.exe");
    test::write_bytes(folder / "ffm.exe", "present");
    const std::string location = c.location;
    server.http().route("/tool/ffplay32.exe", [location](const test::HttpRequest&) {
      return test::HttpResponse{302, {{"Location", location}}, ""};
    });
    window.set_text(app::kDisplayBox, "");
    const auto tasks = start_tool_downloads(ctx, missing_tool_downloads(ctx, false), user);
    wait_for(tasks);
    EXPECT_EQ(std::filesystem::exists(folder / "ffplay.exe"), c.arrives);
    if (c.arrives) EXPECT_TRUE(test::read_bytes(folder / "ffplay.exe") == pattern(test::MakerServer::kFfplay32Size));
    else EXPECT_EQ(window.text(app::kDisplayBox), tool_failed_text("ffplay.exe", false));
    EXPECT_EQ(server.http().request_count("/tool/ffplay.exe"), 0);
  }
}

TEST_F(ProvisioningFixture, BlankWarningOncePerStartAndTheDownloadFolderDefault) {
  struct Case {
    const char* folder_name;
    int boxes;
  } cases[] = {{"程序 目录", 1}, {"程序目录", 0}};
  for (const Case& c : cases) {
    test::TempFolder program{c.folder_name};
    app::WindowModel w;
    ui::HeadlessDesktop d;
    app::Context start{w, d, program.str(), {}, platform::join_path(program.str(), "ffm.exe")};
    // Tools in place, so this start downloads nothing.
    test::write_bytes(program / "ffm.exe", "x");
    test::write_bytes(program / "ffplay.exe", "x");
    test::write_bytes(program / "ffplay", "x");
    provision_tools(start, user);
    const auto boxes = d.shown_boxes();
    ASSERT_EQ(boxes.size(), static_cast<std::size_t>(c.boxes)) << c.folder_name;
    if (c.boxes) {
      EXPECT_EQ(boxes[0].text, kBlankWarning);
      EXPECT_EQ(boxes[0].caption, "信息：");
      EXPECT_EQ(boxes[0].buttons, app::MessageButtons::Ok);
    }
    EXPECT_EQ(w.text("编辑框_下载目录"), platform::join_path(program.str(), "down"));
    EXPECT_TRUE(std::filesystem::is_directory(program / "down"));
  }
  // A download folder the settings gave is kept.
  window.set_text("编辑框_下载目录", "E:\\videos");
  test::write_bytes(folder / "ffm.exe", "x");
  test::write_bytes(folder / "ffplay.exe", "x");
  test::write_bytes(folder / "ffplay", "x");
  provision_tools(ctx, user);
  EXPECT_EQ(window.text("编辑框_下载目录"), "E:\\videos");
  EXPECT_EQ(window.text(app::kDisplayBox), "");  // both tools there: the box is not touched
  EXPECT_EQ(net::FileDownloader{}.TaskCount(user), 0);
}

#ifndef _WIN32
// Linux takes the tools from the program folder or PATH and downloads nothing.
TEST_F(ProvisioningFixture, LinuxNamesTheToolsNeitherTheFolderNorPathHas) {
  test::TempFolder empty_path{"空"};
  const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", empty_path.str().c_str(), 1);
  struct Case {
    bool ffmpeg_in_folder, ffplay_in_folder;
    std::string text;
  } cases[] = {
      {false, false, "ffmpeg、ffplay"},
      {true, false, "ffplay"},
      {false, true, "ffmpeg"},
      {true, true, ""},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(folder / "ffmpeg");
    std::filesystem::remove(folder / "ffplay");
    if (c.ffmpeg_in_folder) test::write_bytes(folder / "ffmpeg", "x");
    if (c.ffplay_in_folder) test::write_bytes(folder / "ffplay", "x");
    window.set_text(app::kDisplayBox, "");
    provision_tools(ctx, user);
    const std::string shown = window.text(app::kDisplayBox);
    if (c.text.empty()) {
      EXPECT_EQ(shown, "");
    } else {
      EXPECT_EQ(shown.rfind("组件缺失：", 0), 0u) << shown;
      EXPECT_NE(shown.find("找不到 " + c.text + "，"), std::string::npos) << shown;
    }
  }
  ::setenv("PATH", old_path.c_str(), 1);
  // With PATH back, this machine's ffmpeg and ffplay count (when it has them).
  if (platform::find_on_search_path("ffmpeg") && platform::find_on_search_path("ffplay")) {
    std::filesystem::remove(folder / "ffmpeg");
    std::filesystem::remove(folder / "ffplay");
    window.set_text(app::kDisplayBox, "");
    provision_tools(ctx, user);
    EXPECT_EQ(window.text(app::kDisplayBox), "");
  }
  EXPECT_EQ(net::FileDownloader{}.TaskCount(user), 0);
  EXPECT_TRUE(server.http().requests().empty());
}
#endif

#ifdef _WIN32
// The whole road on Windows: the created handler's provisioning thread fetches the ffmpeg of the
// system's width (a 32-bit prefix has no WOW64, a 64-bit one has) from the tool server, and the
// replay job then runs that ffm.exe. The fixture ffmpeg has the width of the prefix's system.
TEST_F(ProvisioningFixture, ProvisionedFfmpegIsTheOneTheReplayJobRuns) {
  const std::string ffmpeg = test::test_ffmpeg();
  if (ffmpeg.empty()) GTEST_SKIP() << "no Windows ffmpeg fixture";
  const bool windows_64bit = platform::is_64bit_windows();
  server.serve_tool_file(windows_64bit ? "/tool/ffmpeg.exe" : "/tool/ffmpeg32.exe",
                         test::read_bytes(test::from_u8(ffmpeg)));
  test::write_bytes(folder / "ffplay.exe", "present");
  app::Application application(window, desktop, folder.str());
  application.context().config.tool_host = server.tool_host();
  application.context().config.ca_file = server.ca_file();
  install(application);
  install_tool_provisioning(application);
  desktop.run_on_ui([&] { application.window_created(); });
  // The tool appears only whole, under its final name.
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return std::filesystem::exists(folder / "ffm.exe"); }, 120s))
      << window.text(app::kDisplayBox);
  ASSERT_TRUE(net::FileDownloader{}.Wait(kProvisioningUser, 1, 30000));
  EXPECT_TRUE(test::read_bytes(folder / "ffm.exe") == test::read_bytes(test::from_u8(ffmpeg)));
  EXPECT_EQ(server.http().request_count(windows_64bit ? "/tool/ffplay.exe" : "/tool/ffplay32.exe"), 0);

  test::HttpServer media;
  ASSERT_TRUE(test::serve_vod(media, ffmpeg, folder / "vod", 3));
  window.set_text("编辑框_回放url", media.base_url() + "/vod/index.m3u8");
  desktop.run_on_ui([&] { window.click(kReplayButton); });
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until(
      [&] { return window.text(app::kDisplayBox).find("任务完成") != std::string::npos; }, 120s))
      << window.text(app::kDisplayBox);
  const auto seconds = test::playable_duration(ffmpeg, platform::join_path(window.text("编辑框_下载目录"), "huifang_1.mp4"));
  ASSERT_TRUE(seconds);
  EXPECT_NEAR(*seconds, 3.0, 1.0);
}
#endif

}  // namespace
}  // namespace qz::provisioning
