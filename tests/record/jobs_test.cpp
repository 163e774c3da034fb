// End to end: the recording buttons of a headless window running the real ffmpeg against streams
// served on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <fstream>

#include "app/application.h"
#include "media_fixture.h"
#include "platform/fs.h"
#include "platform/text_codec.h"
#include "record/display_writer.h"
#include "record/install.h"
#include "record/live_parts.h"
#include "record/recording_jobs.h"
#include "ui/headless/headless_desktop.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace qz::record {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct JobsTest : ::testing::Test {
  test::TempFolder folder;
  app::WindowModel window;
  ui::HeadlessDesktop desktop;
  std::unique_ptr<app::Application> app;
  std::string ffmpeg = test::test_ffmpeg();

  void SetUp() override {
    if (ffmpeg.empty()) GTEST_SKIP() << "no ffmpeg on this machine";
#ifdef _WIN32
    // The Windows program runs the ffm.exe of its own folder.
    std::filesystem::copy_file(test::from_u8(ffmpeg), folder / "ffm.exe");
#endif
  }
  void open() {
    app = std::make_unique<app::Application>(window, desktop, folder.str());
    install(*app);
    desktop.run_on_ui([&] { app->window_created(); });
  }
  void TearDown() override { app.reset(); }

  void click(const char* name) {
    desktop.run_on_ui([&] { window.click(name); });
  }
  std::string display() const { return window.text(kDisplayBox); }
  bool display_shows(const std::string& what, std::chrono::milliseconds timeout = 30s) {
    return ui::HeadlessDesktop::wait_until([&] { return display().find(what) != std::string::npos; }, timeout);
  }
  std::string down(const std::string& name) const {
    return platform::join_path(window.text("编辑框_下载目录"), name);
  }
  std::optional<double> duration(const std::string& file) { return test::playable_duration(ffmpeg, file); }

  // Records about `length` from a loopback live source and stops with a second click.
  struct Recorded {
    double wall = 0;      // from the tool's start to the stop click
    double reported = 0;  // what the tool said it had written just before the click
  };
  Recorded record_live(test::LiveSource& source, std::chrono::milliseconds length) {
    window.set_text("编辑框_直播url", source.address());
    click(kLiveButton);
    EXPECT_EQ(window.text(kLiveButton), "停止下载");
    EXPECT_TRUE(display_shows("保存位置："));
    const auto started = Clock::now();
    EXPECT_TRUE(display_shows("size="));  // progress lines flow
    std::this_thread::sleep_until(started + length);
    const double reported = reported_time(display());
    click(kLiveButton);
    return {std::chrono::duration<double>(Clock::now() - started).count(), reported};
  }
};

TEST_F(JobsTest, LiveRecordingStopsOnTheSecondClickAndThePlayableFileHasTheRecordedLength) {
  open();
  test::LiveSource source(ffmpeg);
  ASSERT_TRUE(source.started());
#ifndef _WIN32
  // The preview port receives the stream as MPEG-TS datagrams meanwhile.
  const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(1111);
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(udp, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  timeval wait{0, 200000};
  ::setsockopt(udp, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  std::atomic<bool> listening{true};
  std::string received;  // the datagrams in order: one MPEG-TS stream cut at any byte
  std::thread listener([&] {
    char datagram[65536];
    while (listening) {
      const ssize_t n = ::recv(udp, datagram, sizeof datagram, 0);
      if (n > 0 && received.size() < (1u << 20)) received.append(datagram, static_cast<std::size_t>(n));
    }
  });
#endif
  const Recorded recorded = record_live(source, 4s);
  EXPECT_EQ(window.text(kLiveButton), "开始下载直播");
  ASSERT_TRUE(display_shows("任务完成"));
  // The click says the stop is under way; the ending names the file that plays.
  EXPECT_EQ(display().rfind(std::string(kStopping) + "\r\n", 0), 0u) << display();
  EXPECT_NE(display().find(kFinishedMessage + down("zhibo_1.mp4") + "（时长 "), std::string::npos) << display();
  const auto seconds = duration(down("zhibo_1.mp4"));
  ASSERT_TRUE(seconds) << "zhibo_1.mp4 does not play";
  // Everything the tool had written when the stop came is in the file, and nothing the clock could
  // not have seen. The source may run behind the clock on a loaded machine, so the clock alone is
  // only the upper bound.
  EXPECT_GE(*seconds, recorded.reported - 0.5);
  EXPECT_LE(*seconds, recorded.wall + 1.0);
  EXPECT_GT(recorded.reported, 0.0);
#ifndef _WIN32
  listening = false;
  listener.join();
  ::close(udp);
  // 188-byte packets, each starting with the sync byte 0x47.
  ASSERT_GT(received.size(), 188u * 50);
  for (std::size_t at = 0; at < 188 * 50; at += 188) ASSERT_EQ(received[at], '\x47') << at;
#endif
}

TEST_F(JobsTest, ReplayDownloadsTheWholePlaylistWithoutStartLines) {
  open();
  test::HttpServer server;
  ASSERT_TRUE(test::serve_vod(server, ffmpeg, folder / "vod", 6));
  test::write_bytes(test::from_u8(down("zhibo_1.mp4")), "live files do not count");
  window.set_text("编辑框_回放url", server.base_url() + "/vod/index.m3u8");
  click(kReplayButton);
  EXPECT_EQ(window.text(kReplayButton), "停止下载");
  ASSERT_TRUE(display_shows("任务完成", 60s));
  EXPECT_EQ(display().find("开始下载："), std::string::npos);
  EXPECT_EQ(display().find("保存位置："), std::string::npos);
  EXPECT_EQ(app->context().window.text(kReplayButton), "停止下载");  // ffmpeg ended by itself
  const auto seconds = duration(down("huifang_1.mp4"));
  ASSERT_TRUE(seconds) << "huifang_1.mp4 does not play";
  EXPECT_NEAR(*seconds, 6.0, 1.0);

  // The job's ending named the file; the stop click after the end resets the caption and leaves
  // the box as it is.
  EXPECT_NE(display().find(kFinishedMessage + down("huifang_1.mp4") + "（时长 00:00:0"), std::string::npos) << display();
  const std::string ended = display();
  click(kReplayButton);
  EXPECT_EQ(window.text(kReplayButton), "开始下载回放");
  EXPECT_EQ(display(), ended);
}

TEST_F(JobsTest, LiveAndReplayAtOnceStopOnlyTheirOwnToolAndOnlyOrphanedToolsEndAtLiveStart) {
#ifndef _WIN32
  // The program folder's own ffmpeg, so the clean-up at live start has leftovers to look at.
  std::filesystem::copy_file(test::from_u8(ffmpeg), folder / "ffmpeg");
  std::filesystem::permissions(folder / "ffmpeg", std::filesystem::perms::owner_all);
  const std::string own_tool = (folder / "ffmpeg").string();
#else
  const std::string own_tool = (folder / "ffm.exe").string();
#endif
  open();
  const std::vector<std::string> endless{"-hide_banner", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                                         "testsrc2=size=64x64:rate=5", "-f", "null", "-"};
  // A tool of the program folder whose program still runs: another copy's recording. This test
  // plays that copy; its tool must live through our live start.
  platform::Process others;
  auto options = test::tool_options(own_tool, endless);
  options.streams = platform::Streams::kInputOnly;
  ASSERT_TRUE(others.start(options));
  // A tool of the program folder whose program has gone: a leftover of an earlier run, started
  // through a shell that ends at once.
  std::vector<std::string> orphan_args = endless;
#ifdef _WIN32
  platform::ProcessOptions orphan{.program = platform::find_on_search_path("cmd.exe").value_or(""),
                                  .args = {"/d", "/c", "start", "", "/b", own_tool}};
#else
  std::string script = "\"$0\" \"$@\" </dev/null >/dev/null 2>&1 &";
  platform::ProcessOptions orphan{.program = "/bin/sh", .args = {"-c", script, own_tool}};
#endif
  orphan.args.insert(orphan.args.end(), endless.begin(), endless.end());
  orphan.streams = platform::Streams::kNone;
  orphan.when_we_end = platform::WhenWeEnd::kKeepRunning;
  platform::Process shell;
  ASSERT_TRUE(shell.start(orphan));
  shell.wait(5000);
  std::vector<platform::RunningProcess> leftovers;
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] {
    leftovers = platform::processes_running_program(own_tool);
    return leftovers.size() == 2;
  }, 10s));
  const int orphan_id = leftovers[0].id == others.id() ? leftovers[1].id : leftovers[0].id;

  // A replay that lasts: 8 one-second segments, each answered after 400 ms.
  test::HttpServer server;
  ASSERT_TRUE(test::serve_vod(server, ffmpeg, folder / "vod", 8, 400));
  window.set_text("编辑框_回放url", server.base_url() + "/vod/index.m3u8");
  click(kReplayButton);
  // The replay's own progress line shows it is under way.
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return app->context().window.text(kDisplayBox).find("回放下载：") != std::string::npos; }, 30s));

  test::LiveSource source(ffmpeg);
  record_live(source, 3s);
  EXPECT_TRUE(ui::HeadlessDesktop::wait_until([&] { return platform::program_of_process(orphan_id).empty(); }, 5s))
      << "the orphaned tool still runs";
  EXPECT_FALSE(others.wait(0)) << "another copy's tool was ended";
  others.terminate();
  others.wait(5000);
  ASSERT_TRUE(display_shows("任务完成"));
  const auto live = duration(down("zhibo_1.mp4"));
  ASSERT_TRUE(live);

  // The replay went on through the live start and stop, and ends complete by itself.
  EXPECT_EQ(window.text(kReplayButton), "停止下载");
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] {
    return test::playable_duration(ffmpeg, down("huifang_1.mp4")).value_or(0) > 7.0;
  }, 60s));
  EXPECT_NEAR(*duration(down("huifang_1.mp4")), 8.0, 1.0);
}

// A replay's sound need not be AAC: a replay given as one FLV file, or as a playlist whose segments
// carry MP3. The file keeps that sound as it is, and ffmpeg's refusal of the AAC filter (the
// form MPEG-TS sound needs) is not shown.
TEST_F(JobsTest, ReplaySoundThatIsNotAacIsKept) {
  open();
  test::HttpServer server;
  const std::string flv = test::flv_file(ffmpeg, folder.path(), 5, "libmp3lame");
  ASSERT_FALSE(flv.empty());
  server.serve_bytes("/r/replay.flv", flv);
  ASSERT_TRUE(test::serve_vod(server, ffmpeg, folder / "vod", 5, 0, "libmp3lame"));
  struct Case {
    std::string path, file;
  };
  const Case cases[] = {{"/r/replay.flv", "huifang_1.mp4"}, {"/vod/index.m3u8", "huifang_2.mp4"}};
  for (const Case& c : cases) {
    window.set_text("编辑框_回放url", server.base_url() + c.path);
    click(kReplayButton);
    // The ending names this case's file (the box still holds the last case's ending).
    ASSERT_TRUE(display_shows(down(c.file) + "（时长 ", 60s)) << c.path << "\n" << display();
    ASSERT_TRUE(display_shows("任务完成")) << c.path << "\n" << display();
    EXPECT_EQ(display().find("Error initializing"), std::string::npos) << c.path << "\n" << display();
    click(kReplayButton);  // the caption back to idle, for the next case
    const auto audio = test::decoded_audio(ffmpeg, down(c.file));
    ASSERT_TRUE(audio) << c.file << " has no sound that plays";
    EXPECT_EQ(audio->codec, "mp3") << c.path;
    EXPECT_NEAR(audio->seconds, 5.0, 1.0) << c.path;
  }
}

TEST_F(JobsTest, ASecondClickDuringTheStartSecondCancelsTheRecording) {
  open();
  window.set_text("编辑框_直播url", "http://127.0.0.1:1/never.flv");
  window.set_text("编辑框_下载目录", "");
  std::filesystem::remove_all(folder / "down");
  click(kLiveButton);
  // An empty download folder became the program folder's "down", made before anything else.
  EXPECT_EQ(window.text("编辑框_下载目录"), platform::join_path(folder.str(), "down"));
  EXPECT_TRUE(std::filesystem::is_directory(folder / "down"));
  click(kLiveButton);
  EXPECT_EQ(window.text(kLiveButton), "开始下载直播");
  const std::string message = std::string(kNothingKept) + "\r\n";
  EXPECT_EQ(display(), message);
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(display(), message);  // no recording thread wrote its start line
  EXPECT_EQ(window.text(kLiveButton), "开始下载直播");
}

// Closing while a live start waits out its second: nothing records, the button is idle again (it
// would otherwise say "停止下载" with nothing to stop) and the job has ended on the board. The
// click and the closing run in one task of the UI thread, so the start cannot run in between.
TEST_F(JobsTest, ClosingDuringTheStartSecondLeavesTheButtonIdle) {
  open();
  window.set_text("编辑框_直播url", "http://127.0.0.1:1/never.flv");
  desktop.run_on_ui([&] {
    window.click(kLiveButton);
    EXPECT_EQ(window.text(kLiveButton), "停止下载");
    app->stop_subsystems();
  });
  EXPECT_EQ(window.text(kLiveButton), "开始下载直播");
  const auto jobs = app->context().jobs.jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].kind, app::JobKind::LiveRecording);
  EXPECT_EQ(jobs[0].ending, app::JobEnding::Stopped);
  // Once the start's second is over (a task posted after it has run), nothing has started either.
  std::atomic<bool> second_over{false};
  desktop.post([&] { second_over = true; }, 1000);
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return second_over.load(); }, 30s));
  EXPECT_FALSE(app->busy());
  EXPECT_EQ(window.text(kLiveButton), "开始下载直播");
}

// Each job the window starts is on the job board from its click to its ending, and says there how
// it ended, as a value: what the command line's exit code is taken from.
TEST_F(JobsTest, EveryJobEndsOnTheBoardWithHowItEnded) {
  open();
  test::HttpServer server;
  ASSERT_TRUE(test::serve_vod(server, ffmpeg, folder / "vod", 2));
  test::LiveSource source(ffmpeg);
  ASSERT_TRUE(source.started());
  std::mutex seen_mutex;
  std::vector<app::JobState> live_states;  // every state the recorded live job passed through
  app::JobSubscription watching = app->context().jobs.subscribe([&](const app::JobChange& change) {
    const auto job = app->context().jobs.job(change.id);
    if (change.what != app::JobChange::What::State && change.what != app::JobChange::What::Ended) return;
    if (!job || job->title != source.address()) return;
    std::lock_guard lock(seen_mutex);
    live_states.push_back(job->state);
  });
  struct Row {
    const char* name;
    std::function<void()> run;  // starts (and stops) the job through the window
    const char* button;
    app::JobKind kind;
    app::JobEnding ending;
    const char* file;  // the part that plays, or none
    const char* line;  // in the job's latest line
  };
  const Row rows[] = {
      {"empty live address", [&] { window.set_text("编辑框_直播url", ""); click(kLiveButton); }, kLiveButton,
       app::JobKind::LiveRecording, app::JobEnding::NoAddress, nullptr, "下载地址为空"},
      {"replay address that smuggles options",
       [&] { window.set_text("编辑框_回放url", "http://h/x.m3u8\" -y"); click(kReplayButton); }, kReplayButton,
       app::JobKind::ReplayDownload, app::JobEnding::NoAddress, nullptr, "下载地址无效"},
      {"live start cancelled in its second",
       [&] { window.set_text("编辑框_直播url", source.address()); click(kLiveButton); click(kLiveButton); }, nullptr,
       app::JobKind::LiveRecording, app::JobEnding::Stopped, nullptr, kNothingKept},
      {"replay to its end", [&] { window.set_text("编辑框_回放url", server.base_url() + "/vod/index.m3u8"); click(kReplayButton); },
       kReplayButton, app::JobKind::ReplayDownload, app::JobEnding::Done, "huifang_1.mp4", "任务完成"},
      {"live stopped", [&] { record_live(source, 2s); }, nullptr, app::JobKind::LiveRecording,
       app::JobEnding::Stopped, "zhibo_1.mp4", "任务完成"},
  };
  for (const Row& row : rows) {
    const std::size_t before = app->context().jobs.jobs().size();
    row.run();
    std::optional<app::Job> job;
    ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] {
      const auto jobs = app->context().jobs.jobs();
      if (jobs.size() != before + 1) return false;
      job = jobs.back();
      return job->state == app::JobState::Ended;
    }, 60s)) << row.name << "\n" << display();
    if (row.button) click(row.button);  // the caption back to idle, for the next row
    EXPECT_EQ(job->kind, row.kind) << row.name;
    EXPECT_EQ(job->ending, row.ending) << row.name;
    EXPECT_NE(job->line.find(row.line), std::string::npos) << row.name << ": " << job->line;
    if (!row.file) {
      EXPECT_TRUE(job->parts.empty()) << row.name;
      continue;
    }
    ASSERT_EQ(job->parts.size(), 1u) << row.name;
    EXPECT_EQ(job->parts[0].file, down(row.file)) << row.name;
    EXPECT_NEAR(job->parts[0].seconds, duration(down(row.file)).value_or(-1), 0.5) << row.name;
  }
  std::lock_guard lock(seen_mutex);
  const std::vector<app::JobState> recorded{app::JobState::Running, app::JobState::Stopping, app::JobState::Ended};
  // The cancelled start went straight from Starting to Ended; the recorded one ran, stopped, ended.
  ASSERT_GE(live_states.size(), 4u);
  EXPECT_EQ(live_states.front(), app::JobState::Ended);
  EXPECT_EQ(std::vector<app::JobState>(live_states.end() - 3, live_states.end()), recorded);
}

TEST_F(JobsTest, FailuresShowAsStatusLines) {
  open();
  // An empty address and one that would smuggle in options start nothing.
  window.set_text("编辑框_直播url", "");
  click(kLiveButton);
  EXPECT_TRUE(display_shows("下载地址为空，没有开始下载", 10s));
  click(kLiveButton);
  window.set_text("编辑框_回放url", "http://h/x.m3u8\" -y -i x -c copy victim.txt \"");
  click(kReplayButton);
  EXPECT_TRUE(display_shows("下载地址无效", 10s));
  click(kReplayButton);
  EXPECT_FALSE(std::filesystem::exists(folder / "victim.txt"));

  // An unreachable address: ffmpeg's own complaint, and no file.
  window.set_text("编辑框_直播url", "http://127.0.0.1:" + std::to_string(test::free_port()) + "/live.flv");
  click(kLiveButton);
  ASSERT_TRUE(display_shows("保存位置：", 10s));
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] {
    const std::string d = display();
    // Linux ffmpeg says "Connection refused"; the Windows build under Wine an error number.
    return d.find("Connection refused") != std::string::npos || d.find("输入/输出 错误") != std::string::npos ||
           d.find("Connection to tcp://") != std::string::npos;
  }, 30s)) << display();
  click(kLiveButton);

  // A download folder that cannot exist (its parent is a file): ffmpeg's error on the output.
  test::HttpServer server;
  ASSERT_TRUE(test::serve_vod(server, ffmpeg, folder / "vod", 2));
  test::write_bytes(folder / "blocker", "a file");
  window.set_text("编辑框_下载目录", test::u8(folder / "blocker" / "sub"));
  window.set_text("编辑框_回放url", server.base_url() + "/vod/index.m3u8");
  window.set_text(kDisplayBox, "");
  click(kReplayButton);
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] {
    const std::string d = display();
    // An HLS replay stops before ffmpeg, at the folder its segments would wait in.
    return d.find("Not a directory") != std::string::npos || d.find("文件/路径 不存在") != std::string::npos ||
           d.find("转换失败") != std::string::npos || d.find("无法建立分段文件夹") != std::string::npos;
  }, 30s)) << display();
  click(kReplayButton);
}

TEST_F(JobsTest, AMissingToolIsNamed) {
#ifdef _WIN32
  std::filesystem::remove(folder / "ffm.exe");
#else
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", "/nonexistent", 1);  // no ffmpeg anywhere
#endif
  open();
  window.set_text("编辑框_直播url", "http://127.0.0.1:1/live.flv");
  click(kLiveButton);
  const std::string missing = platform::join_path(folder.str(), "ffm.exe") + " 不存在";
  EXPECT_TRUE(display_shows(missing, 10s)) << display();
  click(kLiveButton);
  app.reset();
#ifndef _WIN32
  ::setenv("PATH", path.c_str(), 1);
#endif
}

TEST_F(JobsTest, ClosingTheWindowFinishesARunningRecording) {
  open();
  test::LiveSource source(ffmpeg);
  window.set_text("编辑框_直播url", source.address());
  click(kLiveButton);
  ASSERT_TRUE(display_shows("size="));
  std::this_thread::sleep_for(2s);
  const auto closing = Clock::now();
  desktop.run_on_ui([&] { app->window_closing(); });
  EXPECT_LT(Clock::now() - closing, 12s);
  EXPECT_NE(display().find("任务完成"), std::string::npos) << display();
  const auto seconds = duration(down("zhibo_1.mp4"));
  ASSERT_TRUE(seconds) << "zhibo_1.mp4 does not play";
  EXPECT_GT(*seconds, 1.5);
  // The settings were saved after the tools had ended.
  EXPECT_TRUE(std::filesystem::exists(folder / "data" / "mvx.ini"));
}

TEST_F(JobsTest, PreviewFollowsTheJobKindAndTheChosenSize) {
  open();
  window.set_text("编辑框_宽度", "640");
  window.set_text("编辑框_高度", "360");
#ifdef _WIN32
  const auto bat = folder / "play.bat";
  click("按钮_播放");  // before any job: the replay port
  EXPECT_EQ(test::read_bytes(bat), "set SDL_AUDIODRIVER=directsound\r\nffplay -x 640 -y 360 udp://127.0.0.1:1112");
  EXPECT_TRUE(::GetFileAttributesW(bat.wstring().c_str()) & FILE_ATTRIBUTE_HIDDEN);
  // A live click makes it the live port; the hidden file of the first click is replaced.
  window.set_text("编辑框_直播url", "");
  click(kLiveButton);
  click(kLiveButton);
  window.set_text("编辑框_宽度", "1280");
  click("按钮_播放");
  EXPECT_EQ(test::read_bytes(bat), "set SDL_AUDIODRIVER=directsound\r\nffplay -x 1280 -y 360 udp://127.0.0.1:1111");
  EXPECT_TRUE(::GetFileAttributesW(bat.wstring().c_str()) & FILE_ATTRIBUTE_HIDDEN);
#else
  const auto ffplay = platform::find_on_search_path("ffplay");
  if (!ffplay) GTEST_SKIP() << "no ffplay";
  ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  window.set_text("编辑框_直播url", "");
  click(kLiveButton);
  click(kLiveButton);
  click("按钮_播放");
  std::vector<platform::RunningProcess> ids;
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] {
    ids = platform::processes_running_program(*ffplay);
    for (const auto& p : ids) {
      std::string args = test::read_bytes("/proc/" + std::to_string(p.id) + "/cmdline");
      static const char wanted[] = "-x\0" "640\0" "-y\0" "360\0" "udp://127.0.0.1:1111";
      if (args.find(std::string(wanted, sizeof wanted - 1)) != std::string::npos)
        return true;
    }
    return false;
  }, 10s));
  for (const auto& p : ids) platform::terminate_process(p.id);
  EXPECT_FALSE(std::filesystem::exists(folder / "play.bat"));
#endif
}

}  // namespace
}  // namespace qz::record
