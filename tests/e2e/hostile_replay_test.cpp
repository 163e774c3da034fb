// A replay CDN that lies, against the real `qiongzhi download`: playlists written to reach past the
// download (other schemes, lines of their own in ffmpeg's playlist, local files, sizes that would
// end the program). Each is refused or defused with its own line and exit code; nothing reaches
// the other scheme's port, and the replays that do download hold the replay and nothing else.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include "e2e_support.h"
#include "fixtures/hls_cdn.h"
#include "fixtures/http_server.h"

namespace qz::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// What a gopher, dict or ftp address names here: a loopback port that must never be reached.
class Bystander {
 public:
  Bystander() {
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&at), size) == 0 && ::listen(socket_, 16) == 0 &&
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&at), &size) == 0)
      port_ = ntohs(at.sin_port);
  }
  ~Bystander() { ::close(socket_); }
  int port() const { return port_; }
  // A connection, even one already closed, waits in the listener's queue until accepted.
  bool reached() const {
    pollfd p{socket_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }

 private:
  int socket_ = -1;
  int port_ = 0;
};

std::string replace_first_line(const std::string& text, const std::string& starting, const std::string& with) {
  const std::size_t at = text.find(starting);
  if (at == std::string::npos) return text;
  return text.substr(0, at) + with + text.substr(text.find('\n', at));
}

// `text` with `line` put before the EXTINF of the segment named `segment`.
std::string insert_before_segment(const std::string& text, const std::string& segment, const std::string& line) {
  const std::size_t extinf = text.rfind("#EXTINF", text.find("\n" + segment) + 1);
  return text.substr(0, extinf) + line + "\n" + text.substr(extinf);
}

struct HostileReplayTest : ::testing::Test {
  TempFolder program;
  fs::path binary = program / "qiongzhi";
  fs::path out = program.path().parent_path() / "out.txt";
  HttpServer server;
  std::string ffmpeg = test_ffmpeg();
  std::unique_ptr<HlsCdn> cdn;
  Bystander bystander;

  void SetUp() override {
    if (ffmpeg.empty()) GTEST_SKIP() << "no ffmpeg on this machine";
    fs::copy_file(fs::path(QZ_BINARY_DIR) / "src/qiongzhi", binary);
    cdn = std::make_unique<HlsCdn>(server, ffmpeg, program.path().parent_path() / "cdn");
    ASSERT_TRUE(cdn->make(4));
    cdn->serve();
    ASSERT_NE(bystander.port(), 0);
  }
  std::string read(const std::string& name) const { return read_bytes(cdn->folder() / name); }
  std::string output() const { return read_bytes(out); }
  int download(const std::string& address, const fs::path& dir) {
    Child child({u8(binary), "download", address, "--dir", u8(dir)},
                {"DISPLAY=", "WAYLAND_DISPLAY=", "HOME=" + u8(program.path().parent_path())}, u8(out));
    return child.wait(180s);
  }
};

TEST_F(HostileReplayTest, EachHostilePlaylistEndsWithItsLineAndReachesNothingElse) {
  const std::string other = "127.0.0.1:" + std::to_string(bystander.port());
  const std::string gopher = "gopher://" + other + "/_SET%20victim%20pwned%0D%0AQUIT%0D%0A";
  const std::string secret = u8(cdn->folder() / "source.ts");  // a local video the attacks try to splice in
  const std::string plain = read("plain.m3u8"), aes = read("aes.m3u8");
  const std::string first_segment = cdn->segments("plain.m3u8")[0];
  const std::string second_segment = cdn->segments("plain.m3u8")[1];
  const std::string third_segment = cdn->segments("plain.m3u8")[2];
  std::string many = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n";
  for (int i = 0; i < 250000; ++i) many += "#EXTINF:1,\nnever.ts\n";
  many += "#EXT-X-ENDLIST\n";
  // libcurl follows a redirect to ftp unless told otherwise, to dict only when asked.
  server.route("/go/dict", [&](const HttpRequest&) {
    return HttpResponse{302, {{"Location", "dict://" + other + "/SET:victim:pwned"}}, ""};
  });
  server.route("/go/ftp", [&](const HttpRequest&) {
    return HttpResponse{302, {{"Location", "ftp://" + other + "/s.ts"}}, ""};
  });
  FileOptions no_length;
  no_length.content_length = false;
  server.serve_bytes("/hls/big.key", std::string(2048, 'k'), no_length);

  std::string nowhere = plain;  // every segment answered "not found"
  for (const std::string& segment : cdn->segments("plain.m3u8"))
    nowhere = replace_first_line(nowhere, segment, "gone/" + segment);
  const std::string data_key = "#EXT-X-KEY:METHOD=AES-128,URI=\"data:";

  const struct Row {
    const char* name;
    std::string playlist;
    int code;
    std::string says;
    std::string never_says = {};
  } rows[] = {
      {"gopher segment", replace_first_line(plain, first_segment, gopher), 6,
       "回放列表含有不支持的地址：" + gopher},
      {"carriage returns in a key attribute",
       replace_first_line(aes, "#EXT-X-KEY", "#EXT-X-KEY:METHOD=AES-128,URI=\"key.bin\",X-A=\"\r#EXT-X-KEY:METHOD=NONE\r"
                                             "#EXTINF:10,\rfile://" + secret + "\r#EXT-X-KEY:METHOD=NONE\""),
       6, "回放列表无法读取（标签属性不合规范）"},
      // Valid HLS: the quoted comma stays inside its value, and the value is not passed on.
      {"comma in a quoted key attribute",
       replace_first_line(aes, "#EXT-X-KEY", "#EXT-X-KEY:METHOD=AES-128,URI=\"key.bin\",X=\"a,URI=file://" + secret + "\""),
       0, "任务完成"},
      {"ftp variant",
       "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nplain.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=2\nftp://" + other + "/v.m3u8\n",
       6, "回放列表含有不支持的地址：ftp://" + other + "/v.m3u8"},
      {"segments redirected to dict and ftp",
       replace_first_line(replace_first_line(plain, second_segment, "/go/dict"), third_segment, "/go/ftp"), 0,
       "回放已保存，缺少 2 段（见上）"},
      {"250,000 segments", many, 6, "回放列表过大"},
      {"9 KiB address", replace_first_line(plain, first_segment, first_segment + "?" + std::string(9 * 1024, 'a')), 6,
       "回放列表过大"},
      {"master without an address", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\n", 6, "回放列表没有可下载的地址"},
      {"2 KiB key without a length", replace_first_line(aes, "#EXT-X-KEY", "#EXT-X-KEY:METHOD=AES-128,URI=\"big.key\""),
       6, "回放密钥大于 1 KiB，已拒绝：" + server.base_url() + "/hls/big.key"},
      {"key given in base64", replace_first_line(aes, "#EXT-X-KEY", data_key + ";base64,MDEyMzQ1Njc4OWFiY2RlZg==\""), 0,
       "任务完成"},
      {"key given as text", replace_first_line(aes, "#EXT-X-KEY", data_key + "text/plain,0123456789%61bcdef\""), 0,
       "任务完成"},
      {"key given in broken base64", replace_first_line(aes, "#EXT-X-KEY", data_key + ";base64,MDEy@\""), 6,
       "回放密钥无法解码：data:;base64,MDEy@"},
      {"ftp sound rendition",
       "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"a\",URI=\"ftp://" + other + "/a.m3u8\"\n"
       "#EXT-X-STREAM-INF:BANDWIDTH=1,AUDIO=\"a\"\nplain.m3u8\n",
       6, "回放列表含有不支持的地址：ftp://" + other + "/a.m3u8"},
      {"master with a broken rendition",
       "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=x\"y\",URI=\"audio.m3u8\"\n"
       "#EXT-X-STREAM-INF:BANDWIDTH=1,AUDIO=\"a\"\nvideo.m3u8\n",
       6, "回放列表无法读取（标签属性不合规范）：" + server.base_url() + "/hls/hostile"},
      // The third segment is declared absent: named as such, neither fetched nor missing.
      {"declared gap", insert_before_segment(plain, third_segment, "#EXT-X-GAP"), 0,
       "回放列表声明的空白：00:00:02–00:00:03（第 3 段）", "缺少"},
      {"every segment missing", nowhere, 6, "回放下载失败：没有收到任何分段", "回放已保存"},
  };
  int n = 0;
  for (const Row& row : rows) {
    const std::string path = "/hls/hostile" + std::to_string(n++) + ".m3u8";
    server.serve_bytes(path, row.playlist);
    const fs::path dir = program / ("down" + std::to_string(n));
    EXPECT_EQ(download(server.base_url() + path, dir), row.code) << row.name << "\n" << output();
    EXPECT_NE(output().find(row.says), std::string::npos) << row.name << "\n" << output();
    if (!row.never_says.empty()) EXPECT_EQ(output().find(row.never_says), std::string::npos) << row.name << "\n" << output();
    if (row.code == 0) {
      // The replay (less what could not be had) and nothing else: a spliced-in local file would
      // make it twice as long.
      const double seconds = probe_duration(dir / "huifang_1.mp4");
      EXPECT_GT(seconds, 1.0) << row.name << "\n" << output();
      EXPECT_LT(seconds, 5.0) << row.name << "\n" << output();
    } else {
      EXPECT_FALSE(fs::exists(dir / "huifang_1.mp4")) << row.name;
    }
  }
  EXPECT_FALSE(bystander.reached());
  EXPECT_EQ(server.request_count("/hls/never.ts"), 0);  // the refused playlists fetched nothing
  EXPECT_EQ(server.request_count("/hls/big.key"), 1);   // a key past its bound is not asked for again
  EXPECT_EQ(server.request_count("/hls/" + third_segment), 0);  // a declared gap is not asked for
}

}  // namespace
}  // namespace qz::test
