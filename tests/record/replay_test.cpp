// End to end: "开始下载回放" on HLS replays served by a loopback CDN, with the real ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <thread>

#ifndef _WIN32
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "fixtures/hls_cdn.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "record/display_writer.h"
#include "record/hls_replay.h"
#include "record/install.h"
#include "record/recording_jobs.h"
#include "support/recording_rig.h"
#include "ui/headless/headless_desktop.h"

namespace qz::record {
namespace {

using namespace std::chrono_literals;

// Under Wine the core case runs (every playlist kind against the Windows ffmpeg); the failure
// paths are the same portable code and run on Linux.
#ifdef _WIN32
#define LINUX_ONLY() GTEST_SKIP() << "runs on Linux"
#else
#define LINUX_ONLY() (void)0
#endif

struct MediaSummary {
  double duration = -1;
  std::vector<std::string> streams;  // "Video: h264", "Audio: aac", in file order
};

// What a file holds as ffmpeg reads it, when the whole file decodes.
std::optional<MediaSummary> summary(const std::string& ffmpeg, const std::string& file) {
  const auto r = test::run_tool_to_end(test::tool_options(ffmpeg, {"-hide_banner", "-i", file, "-f", "null", "-"}));
  if (r.exit_code != 0) return std::nullopt;
  MediaSummary s;
  std::smatch m;
  static const std::regex duration(R"(Duration: (\d+):(\d+):(\d+(\.\d+)?))");
  if (!std::regex_search(r.output, m, duration)) return std::nullopt;
  s.duration = std::stod(m[1]) * 3600 + std::stod(m[2]) * 60 + std::stod(m[3]);
  // Only the input's streams: they come before the output's "Output #0".
  const std::string input = r.output.substr(0, r.output.find("Output #0"));
  static const std::regex stream(R"(Stream #0:\d+[^:]*: (Video|Audio): (\w+))");
  for (auto it = std::sregex_iterator(input.begin(), input.end(), stream); it != std::sregex_iterator(); ++it)
    s.streams.push_back((*it)[1].str() + ": " + (*it)[2].str());
  return s;
}

struct ReplayTest : test::RecordingRig {
  test::HttpServer server;
  std::unique_ptr<test::HlsCdn> cdn;

  ReplayTest() { display_wait = 60s; }
  void SetUp() override {
    RecordingRig::SetUp();
    if (IsSkipped()) return;
    cdn = std::make_unique<test::HlsCdn>(server, ffmpeg, folder / "cdn");
    open();
  }

  void click() { RecordingRig::click(kReplayButton); }

  // Downloads `address` with the replay button to its end, resets the button, and returns what
  // the display box showed before that reset.
  std::string download(const std::string& address) {
    window.set_text(kDisplayBox, "");
    window.set_text("编辑框_回放url", address);
    click();
    EXPECT_TRUE(display_shows("任务完成", 120s)) << display();
    EXPECT_TRUE(ui::HeadlessDesktop::wait_until([&] { return !app->busy(); }, 30s));
    const std::string shown = display();
    click();
    return shown;
  }
  std::optional<MediaSummary> ffmpeg_alone(const std::string& address, const std::string& file) {
    const auto r = test::run_tool_to_end(
        test::tool_options(ffmpeg, {"-hide_banner", "-loglevel", "error", "-i", address, "-c", "copy", "-y", file}));
    if (r.exit_code != 0) return std::nullopt;
    return summary(ffmpeg, file);
  }
};

// The fast way gives what ffmpeg alone gives, for every kind of playlist a replay CDN serves,
// fetches in parallel, and leaves no segment folder behind.
TEST_F(ReplayTest, EachPlaylistKindEqualsFfmpegsOwnResult) {
  ASSERT_TRUE(cdn->make(12));
  cdn->serve(20);
  int n = 0;
  std::optional<MediaSummary> plain_expected;
  for (const std::string kind : {"plain", "aes", "fmp4", "range", "mixed", "master", "rendition"}) {
    SCOPED_TRACE(kind);
    const std::string address = cdn->address(kind + ".m3u8");
    auto expected = ffmpeg_alone(address, test::u8(folder / ("alone_" + kind + ".mp4")));
    ASSERT_TRUE(expected);
    if (kind == "plain") plain_expected = expected;
#ifdef _WIN32
    // The Windows ffmpeg 4.1 stops after the first range of a byte-range playlist; the ranges
    // cut the plain clip, so the plain clip is what the whole download must equal.
    if (kind == "range") expected = plain_expected;
#endif
    const int first_plain_segment = server.request_count("/hls/p0000.ts");
    const std::string shown = download(address);
    const std::string file = down("huifang_" + std::to_string(++n) + ".mp4");
    const auto got = summary(ffmpeg, file);
    ASSERT_TRUE(got) << shown;
    EXPECT_EQ(got->streams, expected->streams);
    EXPECT_NEAR(got->duration, expected->duration, 0.1);
    EXPECT_FALSE(platform::file_exists(segment_folder_of(file)));
    EXPECT_NE(shown.find("回放下载：已完成 "), std::string::npos) << shown;
    EXPECT_EQ(shown.find("缺少"), std::string::npos) << shown;
    // The master playlist's variant with the highest bandwidth is the one downloaded.
    if (kind == "master") EXPECT_EQ(server.request_count("/hls/p0000.ts"), first_plain_segment + 1);
    // The sound of a rendition comes with the picture, fetched by us like the picture's segments.
    if (kind == "rendition") {
      EXPECT_NE(std::find(got->streams.begin(), got->streams.end(), "Audio: aac"), got->streams.end());
      EXPECT_EQ(server.request_count("/hls/au0000.ts"), 2);  // ffmpeg alone's, and ours
    }
  }
  // Segments were fetched side by side. How many at once depends on how fast each one comes on a
  // loaded machine (and under Wine on its HTTP service), so only "more than one" is certain.
  EXPECT_GE(server.max_in_flight(), 2);
  EXPECT_EQ(window.status_part(1), "100.0%");
}

#ifndef _WIN32
// The datagrams that reach the replay's preview port, as one byte stream.
class PreviewListener {
 public:
  PreviewListener() {
    socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(kReplayPort);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bound_ = ::bind(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    timeval wait{0, 200000};
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    thread_ = std::thread([this] {
      char datagram[65536];
      while (listening_) {
        const ssize_t n = ::recv(socket_, datagram, sizeof datagram, 0);
        if (n > 0 && received_.size() < (8u << 20)) {
          received_.append(datagram, static_cast<std::size_t>(n));
          size_ = received_.size();
        }
      }
    });
  }
  ~PreviewListener() { stop(); }
  bool bound() const { return bound_; }
  std::size_t received_bytes() const { return size_; }
  const std::string& stop() {
    if (thread_.joinable()) {
      listening_ = false;
      thread_.join();
      ::close(socket_);
    }
    return received_;
  }

 private:
  int socket_ = -1;
  bool bound_ = false;
  std::atomic<bool> listening_{true};
  std::string received_;  // the listening thread's until stop()
  std::atomic<std::size_t> size_{0};
  std::thread thread_;
};

// "边下边播" listens on the replay's port: while the segments are fetched side by side, a copy of
// the replay reaches that port as MPEG-TS, and the copy's own tool ends with the download.
TEST_F(ReplayTest, ThePreviewPortGetsTheReplayAndItsFeedEndsWithTheDownload) {
  ASSERT_TRUE(cdn->make(8));
  cdn->serve();
  // The last segment is held back until the preview has had its first packets, so the download
  // is still going on when the preview is looked at, however fast the machine.
  const std::string last = cdn->segments("plain.m3u8").back();
  const std::string last_bytes = test::read_bytes(cdn->folder() / last);
  std::atomic<bool> released{false};
  server.route("/hls/" + last, [&](const test::HttpRequest&) {
    ui::HeadlessDesktop::wait_until([&] { return released.load(); }, 60s);
    return test::HttpResponse{200, {{"Content-Type", "video/mp2t"}}, last_bytes};
  });
  PreviewListener preview;
  ASSERT_TRUE(preview.bound());
  window.set_text("编辑框_回放url", cdn->address("plain.m3u8"));
  click();
  const bool previewed = ui::HeadlessDesktop::wait_until([&] { return preview.received_bytes() >= 188u * 10; }, 60s);
  released = true;
  ASSERT_TRUE(display_shows("任务完成", 120s)) << display();
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return !app->busy(); }, 30s));
  const std::string received = preview.stop();
  ASSERT_TRUE(previewed) << "nothing reached the preview port while the replay downloaded";
  for (std::size_t at = 0; at < 188u * 10; at += 188) ASSERT_EQ(received[at], '\x47') << at;
  std::vector<platform::RunningProcess> ours;
  for (const auto& p : platform::processes_running_program(ffmpeg))
    if (p.parent_id == platform::current_process_id()) ours.push_back(p);
  EXPECT_TRUE(ours.empty()) << "a tool of the replay outlived it";
  EXPECT_TRUE(summary(ffmpeg, down("huifang_1.mp4")));
  click();
}
#endif

TEST_F(ReplayTest, ASegmentThatCannotBeHadIsNamedAndTheFileIsStillMade) {
  LINUX_ONLY();
  ASSERT_TRUE(cdn->make(8));
  cdn->serve();
  const std::string missing = "/hls/" + cdn->segments("plain.m3u8").at(3);
  server.route(missing, [](const test::HttpRequest&) { return test::HttpResponse{404, {}, "gone"}; });
  const std::string shown = download(cdn->address("plain.m3u8"));
  EXPECT_EQ(server.request_count(missing), 3);
  EXPECT_NE(shown.find("缺少 00:00:03–00:00:04（第 4 段）"), std::string::npos) << shown;
  const auto got = summary(ffmpeg, down("huifang_1.mp4"));
  ASSERT_TRUE(got);
  EXPECT_GT(got->duration, 6.5);
}

TEST_F(ReplayTest, ADroppedConnectionIsRetried) {
  LINUX_ONLY();
  ASSERT_TRUE(cdn->make(6));
  cdn->serve();
  const std::string segment = cdn->segments("plain.m3u8").at(2);
  test::FileOptions drop;
  drop.drop_after = 1000;
  drop.drop_times = 2;
  server.serve_bytes("/hls/" + segment, test::read_bytes(cdn->folder() / segment), drop);
  const std::string shown = download(cdn->address("plain.m3u8"));
  EXPECT_EQ(server.request_count("/hls/" + segment), 3);
  EXPECT_EQ(shown.find("缺少"), std::string::npos) << shown;
  const auto expected = ffmpeg_alone(cdn->address("plain.m3u8"), test::u8(folder / "alone.mp4"));
  const auto got = summary(ffmpeg, down("huifang_1.mp4"));
  ASSERT_TRUE(got && expected);
  EXPECT_NEAR(got->duration, expected->duration, 0.1);
}

// A stop keeps the segments that arrived in order from the start as a playable file and says
// how much that is; the progress line is replaced, never added. A replay whose sound has a
// playlist of its own keeps its sound too.
TEST_F(ReplayTest, AStopKeepsWhatArrivedInOrder) {
  LINUX_ONLY();
  ASSERT_TRUE(cdn->make(40));
  cdn->serve(0, 60000);  // about 2 s per segment on each connection
  int n = 0;
  for (const std::string playlist : {"plain.m3u8", "rendition.m3u8"}) {
    SCOPED_TRACE(playlist);
    const std::string file = down("huifang_" + std::to_string(++n) + ".mp4");
    window.set_text(kDisplayBox, "");
    window.set_text("编辑框_回放url", cdn->address(playlist));
    click();
    ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return display().find("已完成 0/") == std::string::npos &&
                                                             display().find("回放下载：已完成") != std::string::npos; }, 30s));
    std::this_thread::sleep_for(1500ms);
    const std::string shown = display();
    std::size_t lines = 0;
    for (std::size_t at = shown.find("回放下载："); at != std::string::npos; at = shown.find("回放下载：", at + 1)) ++lines;
    EXPECT_EQ(lines, 1u) << shown;
    click();
    ASSERT_TRUE(display_shows("回放下载已停止：保存了开头的 ", 30s)) << display();
    ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return !app->busy(); }, 30s));
    std::smatch m;
    const std::string text = display();
    ASSERT_TRUE(std::regex_search(text, m, std::regex(R"(保存了开头的 (\d+)/40 段，时长 00:00:(\d\d))"))) << text;
    const int kept = std::stoi(m[1]);
    EXPECT_LT(kept, 40);
    const auto got = summary(ffmpeg, file);
    ASSERT_TRUE(got) << "the stopped file does not play";
    EXPECT_NEAR(got->duration, std::stod(m[2]), 1.5);
    EXPECT_NE(std::find(got->streams.begin(), got->streams.end(), "Audio: aac"), got->streams.end());
    EXPECT_FALSE(platform::file_exists(segment_folder_of(file)));
  }
}

// What is not a finished HLS replay goes the plain ffmpeg way; a playlist that cannot be read
// says so and starts nothing.
TEST_F(ReplayTest, OtherAddressesGoThePlainWayAndUnreadablePlaylistsAreNamed) {
  LINUX_ONLY();
  ASSERT_TRUE(cdn->make(4));
  cdn->serve();
  server.serve_bytes("/clip.ts", test::read_bytes(cdn->folder() / "source.ts"));
  // Not HLS: ffmpeg copies the file itself.
  const std::string shown = download(server.base_url() + "/clip.ts");
  EXPECT_EQ(shown.find("回放下载："), std::string::npos) << shown;
  EXPECT_TRUE(summary(ffmpeg, down("huifang_1.mp4")));

  // Still live: ffmpeg follows the playlist itself (the segments are not fetched side by side and
  // no segment folder is made).
  window.set_text("编辑框_回放url", cdn->address("live.m3u8"));
  click();
  const auto segments = cdn->segments("live.m3u8");
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] {
    return std::any_of(segments.begin(), segments.end(), [&](const std::string& s) { return server.request_count("/hls/" + s) > 0; });
  }, 30s)) << display();
  EXPECT_EQ(display().find("回放下载："), std::string::npos) << display();
  EXPECT_FALSE(platform::file_exists(segment_folder_of(down("huifang_2.mp4"))));
  EXPECT_LE(server.max_in_flight(), 2);
  click();

  server.serve_bytes("/bad/master.m3u8", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nmissing.m3u8\n");
  const struct {
    std::string path, shown;
  } unreadable[] = {
      {"/hls/nothing.m3u8", "回放列表无法读取（服务器回答 HTTP 404）"},
      {"/bad/master.m3u8", "回放列表无法读取（服务器回答 HTTP 404）：" + server.base_url() + "/bad/missing.m3u8"},
  };
  for (const auto& c : unreadable) {
    window.set_text(kDisplayBox, "");
    window.set_text("编辑框_回放url", server.base_url() + c.path);
    click();
    EXPECT_TRUE(display_shows(c.shown, 30s)) << display();
    click();
  }
  EXPECT_FALSE(platform::file_exists(down("huifang_3.mp4")));  // the unreadable ones started no ffmpeg
}

}  // namespace
}  // namespace qz::record
