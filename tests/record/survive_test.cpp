// Live recordings that survive: the real ffmpeg records a live source through a relay that
// drops, refuses and stalls on command; the file plays at every moment, every gap is named and
// each continuation is a part of its own.
#include <gtest/gtest.h>

#include <mutex>

#include "app/logs.h"
#include "platform/text_codec.h"
#include "fixtures/relay/live_relay.h"
#include "media_fixture.h"
#include "platform/fs.h"
#include "record/display_writer.h"
#include "record/install.h"
#include "record/live_parts.h"
#include "record/tool_output.h"
#include "record/recording_jobs.h"
#include "support/recording_rig.h"
#include "ui/headless/headless_desktop.h"

#ifdef __linux__
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#endif

namespace qz::record {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Everything the display box showed, in order. The box is cleared past 2000 bytes, and ffmpeg's
// progress lines fill that within seconds, so a line can be gone before a poll of the box sees it.
class DisplayHistory final : public app::WindowObserver {
 public:
  explicit DisplayHistory(app::WindowModel& window) : window_(window) { window_.set_observer(this); }
  ~DisplayHistory() override { window_.set_observer(nullptr); }
  void control_changed(const app::ControlChange& change) override {
    if (change.what != app::ControlChange::What::Text || change.name != kDisplayBox) return;
    const std::string now = window_.text(kDisplayBox);
    std::lock_guard lock(mutex_);
    const bool extended = now.size() >= last_.size() && now.compare(0, last_.size(), last_) == 0;
    shown_ += extended ? now.substr(last_.size()) : now;
    last_ = now;
  }
  std::string shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  app::WindowModel& window_;
  mutable std::mutex mutex_;
  std::string last_, shown_;
};

struct SurviveTest : test::RecordingRig {
  DisplayHistory history{window};

  void SetUp() override {
    RecordingRig::SetUp();
    if (IsSkipped()) return;
#ifndef _WIN32
    copy_tool_into_program_folder();  // the recorders are found by their program
#endif
  }

  // The settings a user would write into data/config.ini, for the cases that are about them.
  void configure(const std::string& lines) {
    std::filesystem::create_directories(folder / "data");
    test::write_bytes(folder / "data" / "config.ini", "[config]\r\n" + lines);
  }
  std::string display() const override { return history.shown(); }
  std::vector<platform::RunningProcess> recorders() { return platform::processes_running_program(own_tool); }

  // Starts a live recording from the relay; the moment its stream flows. ffmpeg reads the stream
  // for a few seconds before its first report, and those seconds go into the file too.
  Clock::time_point start_recording(test::LiveRelay& relay) {
    EXPECT_TRUE(relay.started());
    window.set_text("编辑框_直播url", relay.address());
    click(kLiveButton);
    const auto connecting = Clock::now() + 1s;  // a live start waits a second
    // ffmpeg's first progress line comes before any data; a bit rate needs data.
    EXPECT_TRUE(display_shows("kbits/s")) << display();
    // On a loaded machine a bit rate can still come before a fragment reached the disk: the stream
    // flows once the file holds more than its header.
    const std::string file = down("zhibo_1.mp4");
    EXPECT_TRUE(ui::HeadlessDesktop::wait_until([&] { return platform::file_size(file).value_or(0) > 4096; }, 30s))
        << display();
    return connecting;
  }
  // The hole the display named in "已重新连接（中断 N 秒）".
  std::optional<int> named_hole_seconds() const {
    const std::string shown = display();
    const std::string mark = "已重新连接（中断 ";
    const auto at = shown.find(mark);
    if (at == std::string::npos) return std::nullopt;
    return std::atoi(shown.c_str() + at + mark.size());
  }
  void stop_recording() {
    click(kLiveButton);
    EXPECT_EQ(window.text(kLiveButton), kLiveIdle);
    EXPECT_TRUE(ui::HeadlessDesktop::wait_until([&] { return !app->busy(); }, 20s));
  }
};

TEST_F(SurviveTest, AKilledRecorderLeavesAFileThatPlaysUpToItsEnd) {
  open();
  test::LiveRelay relay(ffmpeg);
  const auto flowing = start_recording(relay);
  std::this_thread::sleep_until(flowing + 10s);
  const auto tools = recorders();
  ASSERT_EQ(tools.size(), 1u);
  platform::terminate_process(tools[0].id);  // as a crash or kill -9 would
  const double flowed = std::chrono::duration<double>(Clock::now() - flowing).count();
  // The recording goes on into a part of its own; the first file plays to within a couple of
  // seconds of the kill (its last fragment, and the tool's own start).
  ASSERT_TRUE(display_shows("已重新连接"));
  const auto first = duration(down("zhibo_1.mp4"));
  ASSERT_TRUE(first);
  EXPECT_GE(*first, flowed - 2.5);
  stop_recording();
  EXPECT_TRUE(duration(down("zhibo_1_2.mp4")));
}

TEST_F(SurviveTest, ACutMakesTwoPartsThatPlayAndTheHoleIsNamed) {
  open();
  test::LiveRelay relay(ffmpeg);
  const auto flowing = start_recording(relay);
  std::this_thread::sleep_until(flowing + 6s);
  relay.refuse_for(5s);
  // Said within 3 s on a quiet machine; a loaded one is given more, as nothing here measures speed.
  ASSERT_TRUE(display_shows("直播中断（", 15s)) << display();
  ASSERT_TRUE(display_shows("已重新连接（中断 ", 30s)) << display();
  EXPECT_NE(display().find("继续保存到：" + down("zhibo_1_2.mp4")), std::string::npos) << display();
  // The dropped run's closing statistics do not read as a finished task: the recording goes on.
  EXPECT_EQ(display().find("任务完成"), std::string::npos) << display();
  std::this_thread::sleep_for(6s);
  const auto stopped_at = Clock::now();
  stop_recording();
  const auto first = duration(down("zhibo_1.mp4"));
  const auto second = duration(down("zhibo_1_2.mp4"));
  const auto hole = named_hole_seconds();
  ASSERT_TRUE(first && second && hole);
  EXPECT_GE(*hole, 4);  // the source was away for 5 s
  // Nothing is lost but the hole that was named: the parts and the hole fill the time recorded.
  const double recorded = std::chrono::duration<double>(stopped_at - flowing).count();
  EXPECT_NEAR(*first + *second + *hole, recorded, 2.5) << *first << " + " << *second << " + hole " << *hole;
  // The finished message gives each part the length it has on the disk.
  const std::string listed = "共 2 段：zhibo_1.mp4（" + duration_text(*first) + "）、zhibo_1_2.mp4（" +
                             duration_text(*second) + "）";
  EXPECT_NE(display().find(listed), std::string::npos) << listed;
  // The gap lines went to the run log as well.
  const std::string log = platform::gbk_to_utf8(
      platform::read_file(app::run_log_path(folder.str(), platform::local_time_now())).value_or(""));
  EXPECT_NE(log.find("直播中断（"), std::string::npos) << log;
  EXPECT_NE(log.find("继续保存到："), std::string::npos) << log;
  EXPECT_FALSE(std::filesystem::exists(test::from_u8(down("zhibo_1_3.mp4"))));
}

TEST_F(SurviveTest, AStallIsDetectedAndTheRecordingGoesOnInANewPart) {
  configure("stall_seconds=4\r\n");
  open();
  test::LiveRelay relay(ffmpeg);
  const auto flowing = start_recording(relay);
  std::this_thread::sleep_until(flowing + 4s);
  relay.stall();
  // The stall is named once the file has not grown for the 4 s set, plus a loaded machine's slack.
  ASSERT_TRUE(display_shows("秒没有收到直播数据", 4s + 15s)) << display();
  ASSERT_TRUE(display_shows("继续保存到：" + down("zhibo_1_2.mp4"), 30s)) << display();
  std::this_thread::sleep_for(3s);
  stop_recording();
  EXPECT_TRUE(duration(down("zhibo_1.mp4")));
  EXPECT_GE(duration(down("zhibo_1_2.mp4")).value_or(0), 1.0);
}

TEST_F(SurviveTest, RefusedLongerThanTheReconnectTimeEndsTheJobWithItsParts) {
  configure("reconnect_seconds=5\r\n");
  open();
  test::LiveRelay relay(ffmpeg);
  const auto flowing = start_recording(relay);
  std::this_thread::sleep_until(flowing + 4s);
  relay.refuse_for(120s);
  ASSERT_TRUE(display_shows("重新连接 5 秒仍未成功，录制结束", 30s)) << display() << platform::gbk_to_utf8(
      platform::read_file(app::run_log_path(folder.str(), platform::local_time_now())).value_or(""));
  EXPECT_TRUE(ui::HeadlessDesktop::wait_until([&] { return window.text(kLiveButton) == kLiveIdle; }, 3s));
  // The ending names the part that plays, once it has been looked at.
  EXPECT_TRUE(display_shows(kFinishedMessage + down("zhibo_1.mp4") + "（时长 ")) << display();
  EXPECT_NE(display().find("共 1 段：zhibo_1.mp4（0:0"), std::string::npos) << display();
  EXPECT_TRUE(ui::HeadlessDesktop::wait_until([&] { return !app->busy() && recorders().empty(); }, 5s));
  EXPECT_FALSE(std::filesystem::exists(test::from_u8(down("zhibo_1_2.mp4"))));
}

TEST_F(SurviveTest, StopDuringTheReconnectWaitEndsAtOnce) {
  open();
  test::LiveRelay relay(ffmpeg);
  const auto flowing = start_recording(relay);
  std::this_thread::sleep_until(flowing + 3s);
  relay.refuse_for(120s);
  ASSERT_TRUE(display_shows("直播中断（", 15s));
  const auto stop_at = Clock::now();
  stop_recording();
  EXPECT_LE(Clock::now() - stop_at, 10s);  // not the two minutes the source stays away
  std::this_thread::sleep_for(3s);
  EXPECT_TRUE(recorders().empty());
  EXPECT_FALSE(std::filesystem::exists(test::from_u8(down("zhibo_1_2.mp4"))));
  EXPECT_TRUE(duration(down("zhibo_1.mp4")));
}

// A room whose sound is MP3: ffmpeg refuses the AAC filter once, the recording starts again without
// it at once, and the reconnect after a drop goes straight without it.
TEST_F(SurviveTest, RoomSoundThatIsNotAacIsKeptInEveryPart) {
  open();
  test::LiveRelay relay(ffmpeg, "libmp3lame");
  const auto flowing = start_recording(relay);
  std::this_thread::sleep_until(flowing + 4s);
  relay.cut();
  ASSERT_TRUE(display_shows("继续保存到：" + down("zhibo_1_2.mp4"), 30s)) << display();
  std::this_thread::sleep_for(3s);
  stop_recording();
  EXPECT_EQ(display().find("Error initializing"), std::string::npos) << display();
  // The refused start, the recording, the continuation.
  EXPECT_EQ(relay.clients_served(), 3);
  for (const char* part : {"zhibo_1.mp4", "zhibo_1_2.mp4"}) {
    const auto audio = test::decoded_audio(ffmpeg, down(part));
    ASSERT_TRUE(audio) << part << " has no sound that plays";
    EXPECT_EQ(audio->codec, "mp3") << part;
    EXPECT_GE(audio->seconds, 2.0) << part;
  }
}

TEST_F(SurviveTest, PartsAreJoinedWhenAsked) {
  configure("join_parts=1\r\n");
  open();
  test::LiveRelay relay(ffmpeg);
  const auto flowing = start_recording(relay);
  std::this_thread::sleep_until(flowing + 4s);
  relay.cut();
  ASSERT_TRUE(display_shows("继续保存到：", 30s)) << display() << platform::gbk_to_utf8(
      platform::read_file(app::run_log_path(folder.str(), platform::local_time_now())).value_or(""));
  std::this_thread::sleep_for(4s);
  stop_recording();
  ASSERT_TRUE(display_shows("已合并 2 段为：" + down("zhibo_1_joined.mp4"), 20s)) << display();
  const auto first = duration(down("zhibo_1.mp4"));
  const auto second = duration(down("zhibo_1_2.mp4"));
  const auto joined = duration(down("zhibo_1_joined.mp4"));
  ASSERT_TRUE(first && second && joined);
  EXPECT_NEAR(*joined, *first + *second, 1.0);
}

#ifdef __linux__
// The download folder on a small disk of its own, which a recording fills. Mounting needs root;
// the tools end before their disk goes, whatever the test's outcome.
struct SmallDiskTest : SurviveTest {
  std::filesystem::path disk;
  bool mounted = false;

  void SetUp() override {
    SurviveTest::SetUp();
    if (IsSkipped()) return;
    disk = folder / "small disk";
    std::filesystem::create_directories(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=640k") != 0)
      GTEST_SKIP() << "a small disk cannot be mounted here (" << std::strerror(errno) << "); it needs root";
    mounted = true;
  }
  void TearDown() override {
    SurviveTest::TearDown();
    if (mounted) ::umount2(disk.c_str(), MNT_DETACH);
  }
  void open_saving_to_disk() {
    open();
    window.set_text("编辑框_下载目录", test::u8(disk));
  }
  // The live job ended by itself because the file could not be written on: said, idle, no tool left.
  void expect_recording_ended_unwritable(std::chrono::milliseconds within) {
    const std::string reason = "文件无法继续写入（磁盘已满或目录不可写），录制结束，已保存到：" + down("zhibo_1.mp4");
    ASSERT_TRUE(display_shows(reason, within)) << display();
    EXPECT_TRUE(ui::HeadlessDesktop::wait_until([&] { return window.text(kLiveButton) == kLiveIdle; }, 3s));
    EXPECT_TRUE(ui::HeadlessDesktop::wait_until([&] { return !app->busy() && recorders().empty(); }, 10s));
  }
};

TEST_F(SmallDiskTest, AFullDiskEndsTheRecordingWithAClearLineAndWhatFitPlays) {
  open_saving_to_disk();
  test::LiveRelay relay(ffmpeg);
  start_recording(relay);
  ASSERT_NO_FATAL_FAILURE(expect_recording_ended_unwritable(90s));
  const std::string shown = display();
  EXPECT_NE(shown.find(kFinishedMessage), std::string::npos) << shown;  // ended as if stopped
  EXPECT_FALSE(std::filesystem::exists(test::from_u8(down("zhibo_1_2.mp4"))));  // no reconnect into a full disk
  const auto seconds = duration(down("zhibo_1.mp4"));
  ASSERT_TRUE(seconds) << "what fit on the disk does not play";
  EXPECT_GE(*seconds, 2.0);
  // The part is listed with the length that is on the disk, not the time ffmpeg counted on to.
  const std::string listed = "共 1 段：zhibo_1.mp4（" + duration_text(*seconds) + "）";
  EXPECT_NE(shown.find(listed), std::string::npos) << listed << "\n" << shown;
}

// The folder turns read-only while the stream is down (it cannot while a file in it is being
// written): the reconnect cannot make its part, and trying on would not help.
TEST_F(SmallDiskTest, AFolderThatTurnsReadOnlyDuringADropEndsTheRecording) {
  open_saving_to_disk();
  test::LiveRelay relay(ffmpeg);
  const auto flowing = start_recording(relay);
  std::this_thread::sleep_until(flowing + 4s);
  relay.refuse_for(4s);
  ASSERT_TRUE(display_shows("直播中断（", 15s)) << display();
  ASSERT_EQ(::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
  ASSERT_NO_FATAL_FAILURE(expect_recording_ended_unwritable(30s));
  EXPECT_NE(display().find("共 1 段：zhibo_1.mp4"), std::string::npos) << display();
  EXPECT_FALSE(std::filesystem::exists(test::from_u8(down("zhibo_1_2.mp4"))));
  EXPECT_GE(duration(down("zhibo_1.mp4")).value_or(0), 3.0);
}

// A replay given as one file fills the disk in a moment: ffmpeg's closing statistics come all the
// same, and must not pass for a finished task.
TEST_F(SmallDiskTest, AReplayThatFillsTheDiskIsNotReportedDone) {
  open_saving_to_disk();
  test::HttpServer server;
  const std::string flv = test::flv_file(ffmpeg, folder.path(), 40, "aac");
  ASSERT_GT(flv.size(), 2u * 640 * 1024);
  server.serve_bytes("/r/replay.flv", flv);
  window.set_text("编辑框_回放url", server.base_url() + "/r/replay.flv");
  click(kReplayButton);
  ASSERT_TRUE(display_shows(kWriteRefusedLine, 60s)) << display();
  EXPECT_TRUE(ui::HeadlessDesktop::wait_until([&] { return !app->busy(); }, 10s));
  EXPECT_EQ(display().find("任务完成"), std::string::npos) << display();
  EXPECT_TRUE(duration(down("huifang_1.mp4"))) << "what fit on the disk does not play";
}
#endif

}  // namespace
}  // namespace qz::record
