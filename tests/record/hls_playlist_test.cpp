#include <gtest/gtest.h>

#include "record/display_writer.h"
#include "record/hls_playlist.h"
#include "record/hls_progress.h"

namespace qz::record {
namespace {

TEST(HlsAddress, ResolvesAsABrowserDoes) {
  const std::string base = "https://cdn.example/vod/2024/replay.m3u8?auth=1&e=9";
  const struct {
    std::string reference, expected;
  } cases[] = {
      {"seg1.ts", "https://cdn.example/vod/2024/seg1.ts"},
      {"seg1.ts?t=5", "https://cdn.example/vod/2024/seg1.ts?t=5"},
      {"../k/key.bin", "https://cdn.example/vod/k/key.bin"},
      {"./a/../b/seg.ts", "https://cdn.example/vod/2024/b/seg.ts"},
      {"/root/seg.ts?x=1", "https://cdn.example/root/seg.ts?x=1"},
      {"//other.example/s.ts", "https://other.example/s.ts"},
      {"http://abs.example/p/s.ts?q", "http://abs.example/p/s.ts?q"},
      {"?only=query", "https://cdn.example/vod/2024/replay.m3u8?only=query"},
      {"../../../../too/far.ts", "https://cdn.example/too/far.ts"},
  };
  for (const auto& c : cases) EXPECT_EQ(resolve_address(base, c.reference), c.expected) << c.reference;
  EXPECT_EQ(resolve_address("http://h:8080", "s.ts"), "http://h:8080/s.ts");
}

TEST(HlsPlaylistReading, MediaPlaylistTags) {
  const std::string text =
      "\xEF\xBB\xBF#EXTM3U\r\n#EXT-X-VERSION:4\r\n#EXT-X-TARGETDURATION:4\r\n#EXT-X-MEDIA-SEQUENCE:7\r\n"
      "#EXT-X-KEY:METHOD=AES-128,URI=\"key?id=1\",IV=0x000102030405060708090a0b0c0d0e0f\r\n"
      "#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"720@0\"\r\n"
      "#EXTINF:4.000,title, with comma\r\n#EXT-X-BYTERANGE:1000@720\r\nall.mp4\r\n"
      "#EXTINF:3.5,\r\n#EXT-X-BYTERANGE:500\r\nall.mp4\r\n"
      "#EXT-X-DISCONTINUITY\r\n#EXT-X-KEY:METHOD=NONE\r\n#EX-UNKNOWN:whatever\r\n"
      "#EXTINF:2,\r\nhttp://other/x.ts\r\n#EXT-X-GAP\r\n#EXTINF:2,\r\ngone.ts\r\n#EXTINF:2,\r\nafter.ts\r\n#EXT-X-ENDLIST\r\n";
  const HlsPlaylist p = parse_playlist(text, "http://h/a/list.m3u8");
  ASSERT_EQ(p.kind, HlsPlaylist::Kind::Media);
  EXPECT_TRUE(p.ended);
  EXPECT_EQ(p.media_sequence, 7u);
  ASSERT_EQ(p.segments.size(), 5u);
  ASSERT_EQ(p.keys.size(), 1u);
  EXPECT_EQ(p.keys[0].uri, "http://h/a/key?id=1");
  ASSERT_EQ(p.maps.size(), 1u);
  EXPECT_EQ(p.maps[0].range->length, 720u);
  EXPECT_EQ(p.segments[0].range->offset, 720u);
  EXPECT_EQ(p.segments[1].range->offset, 1720u);  // follows the previous range of the same file
  EXPECT_EQ(p.segments[1].range->length, 500u);
  EXPECT_EQ(p.segments[1].key, 0);
  EXPECT_EQ(p.segments[2].key, -1);
  EXPECT_TRUE(p.segments[2].discontinuity);
  EXPECT_FALSE(p.segments[1].discontinuity);
  EXPECT_DOUBLE_EQ(p.segments[2].start, 7.5);
  EXPECT_DOUBLE_EQ(p.total_duration(), 13.5);
  // A declared gap is that segment's alone; its time still counts.
  EXPECT_FALSE(p.segments[2].gap);
  EXPECT_TRUE(p.segments[3].gap);
  EXPECT_FALSE(p.segments[4].gap);
  EXPECT_DOUBLE_EQ(p.segments[4].start, 11.5);
}

TEST(HlsPlaylistReading, MasterLiveAndOtherText) {
  const HlsPlaylist master = parse_playlist(
      "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=800000,CODECS=\"avc1.4d401f,mp4a.40.2\"\nmid/index.m3u8\n"
      "#EXT-X-STREAM-INF:RESOLUTION=1920x1080,BANDWIDTH=5000000\nhigh/index.m3u8?s=1\n"
      "#EXT-X-STREAM-INF:BANDWIDTH=200000\nlow/index.m3u8\n",
      "http://h/live/master.m3u8");
  EXPECT_EQ(master.kind, HlsPlaylist::Kind::Master);
  EXPECT_EQ(master.best_variant()->uri, "http://h/live/high/index.m3u8?s=1");

  // The sound of a variant from its AUDIO group: the DEFAULT=YES rendition, else the group's
  // first; none for a variant whose segments carry their own, or a rendition without a playlist.
  const HlsPlaylist sounds = parse_playlist(
      "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"en\",URI=\"a/en.m3u8\"\n"
      "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"zh\",DEFAULT=YES,URI=\"a/zh.m3u8\"\n"
      "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"b\",NAME=\"inside\",DEFAULT=YES\n"
      "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"c\",NAME=\"one\",DEFAULT=NO,URI=\"c/1.m3u8\"\n"
      "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"c\",NAME=\"two\",URI=\"c/2.m3u8\"\n"
      "#EXT-X-MEDIA:TYPE=SUBTITLES,GROUP-ID=\"s\",NAME=\"zh\",URI=\"s/zh.m3u8\"\n"
      "#EXT-X-STREAM-INF:BANDWIDTH=1,AUDIO=\"a\"\nv1.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=2,AUDIO=\"b\"\nv2.m3u8\n"
      "#EXT-X-STREAM-INF:BANDWIDTH=3,AUDIO=\"c\"\nv3.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=4\nv4.m3u8\n",
      "http://h/m.m3u8");
  ASSERT_EQ(sounds.kind, HlsPlaylist::Kind::Master);
  ASSERT_EQ(sounds.variants.size(), 4u);
  const struct {
    std::size_t variant;
    std::optional<std::string> sound;
  } sound_cases[] = {{0, "http://h/a/zh.m3u8"}, {1, std::nullopt}, {2, "http://h/c/1.m3u8"}, {3, std::nullopt}};
  for (const auto& c : sound_cases) {
    const auto rendition = sounds.audio_of(sounds.variants[c.variant]);
    EXPECT_EQ(rendition ? std::optional(rendition->uri) : std::nullopt, c.sound) << c.variant;
  }

  const HlsPlaylist live = parse_playlist("#EXTM3U\n#EXTINF:2,\na.ts\n", "http://h/x.m3u8");
  EXPECT_EQ(live.kind, HlsPlaylist::Kind::Media);
  EXPECT_FALSE(live.ended);

  // Durations no server means (years long) are read as unknown, so the local copy stays sound.
  const HlsPlaylist absurd = parse_playlist(
      "#EXTM3U\n#EXT-X-TARGETDURATION:1e300\n#EXTINF:299999999999999999999999999999,\na.ts\n#EXT-X-ENDLIST\n",
      "http://h/x.m3u8");
  ASSERT_EQ(absurd.segments.size(), 1u);
  EXPECT_EQ(absurd.segments[0].duration, 0);
  EXPECT_NE(local_playlist(absurd, "http://127.0.0.1:9/").find("#EXT-X-TARGETDURATION:0\n"), std::string::npos);

  for (const char* other : {"", "<html>#EXTM3U</html>", "\x47\x40\x11\x10", "EXTM3U"})
    EXPECT_EQ(parse_playlist(other, "http://h/x").kind, HlsPlaylist::Kind::NotHls) << other;
}

// ffmpeg reads our local copies: addresses change, everything that decides how the bytes are
// read (sequence numbers for the IV, key attributes, init sections, discontinuities) stays.
TEST(HlsPlaylistReading, LocalPlaylistKeepsWhatDecodingNeeds) {
  const HlsPlaylist p = parse_playlist(
      "#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:42\n#EXT-X-KEY:METHOD=AES-128,URI=\"https://k/1\"\n"
      "#EXT-X-MAP:URI=\"i.mp4\"\n#EXTINF:2,\nseg.m4s?x=1\n#EXT-X-DISCONTINUITY\n"
      "#EXT-X-KEY:METHOD=AES-128,URI=\"https://k/2\",IV=0x0F\n#EXTINF:2,\nSEG2.M4S\n#EXT-X-ENDLIST\n",
      "https://c/v/p.m3u8");
  const std::string local = local_playlist(p, "http://127.0.0.1:9/");
  EXPECT_EQ(local,
            "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:42\n#EXT-X-PLAYLIST-TYPE:VOD\n"
            "#EXT-X-KEY:METHOD=AES-128,URI=\"http://127.0.0.1:9/k0.key\"\n"
            "#EXT-X-MAP:URI=\"http://127.0.0.1:9/m0.mp4\"\n#EXTINF:2.000000,\nhttp://127.0.0.1:9/s0.m4s\n"
            "#EXT-X-DISCONTINUITY\n#EXT-X-KEY:METHOD=AES-128,URI=\"http://127.0.0.1:9/k1.key\",IV=0x0F\n"
            "#EXTINF:2.000000,\nhttp://127.0.0.1:9/s1.m4s\n#EXT-X-ENDLIST\n");
}

// A playlist comes from a server we do not trust: anything it could use to reach past the
// download refuses it whole, before anything it names is fetched.
TEST(HlsPlaylistReading, HostileTextRefusesThePlaylist) {
  using R = HlsPlaylist::Refusal;
  const std::string head = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n";
  const std::string tail = "#EXTINF:2,\na.ts\n#EXT-X-ENDLIST\n";
  const auto key = [&](const std::string& attributes) { return head + "#EXT-X-KEY:" + attributes + "\n" + tail; };
  const auto segment = [&](const std::string& line) { return head + "#EXTINF:2,\n" + line + "\n" + tail; };
  std::string at_bound = head, past_bound = head;
  for (std::size_t i = 0; i < kMaxPlaylistEntries; ++i) at_bound += "#EXTINF:1,\ns.ts\n";
  past_bound = at_bound + "#EXTINF:1,\ns.ts\n";
  const std::string long_name(kMaxAddressBytes - std::string("http://h/a/").size(), 'x');
  const struct {
    const char* name;
    std::string text;
    R refusal;
    std::string address;  // for UnsupportedAddress
  } cases[] = {
      {"gopher segment", segment("gopher://127.0.0.1:6379/_SET%20x"), R::UnsupportedAddress, "gopher://127.0.0.1:6379/_SET%20x"},
      {"local file segment", segment("file:///etc/passwd"), R::UnsupportedAddress, "file:///etc/passwd"},
      {"blank in an address", segment("a b.ts"), R::UnsupportedAddress, "http://h/a/a b.ts"},
      {"carriage return in an address", segment("a.ts\rfile:///x"), R::UnsupportedAddress, "http://h/a/a.ts\rfile:///x"},
      {"ftp key", key("METHOD=AES-128,URI=\"ftp://k/1\""), R::UnsupportedAddress, "ftp://k/1"},
      {"data init section", head + "#EXT-X-MAP:URI=\"data:,x\"\n" + tail, R::UnsupportedAddress, "data:,x"},
      {"ftp variant", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nftp://h/v.m3u8\n", R::UnsupportedAddress, "ftp://h/v.m3u8"},
      {"file sound rendition",
       "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"x\",URI=\"file:///etc/passwd\"\n"
       "#EXT-X-STREAM-INF:BANDWIDTH=1,AUDIO=\"a\"\nv.m3u8\n",
       R::UnsupportedAddress, "file:///etc/passwd"},
      {"sound rendition without a group", "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,URI=\"a.m3u8\"\n", R::BadAttributes, ""},
      {"key data that is not base64", key("METHOD=AES-128,URI=\"data:;base64,MDEy*\""), R::KeyUnreadable, "data:;base64,MDEy*"},
      {"key data with a broken escape", key("METHOD=AES-128,URI=\"data:,01%2\""), R::KeyUnreadable, "data:,01%2"},
      {"key data that is empty", key("METHOD=AES-128,URI=\"data:,\""), R::KeyUnreadable, "data:,"},
      {"key data past 1 KiB", key("METHOD=AES-128,URI=\"data:," + std::string(1025, 'k') + "\""), R::KeyTooLarge,
       "data:," + std::string(1025, 'k')},
      {"key data at 1 KiB", key("METHOD=AES-128,URI=\"data:," + std::string(1024, 'k') + "\""), R::None, ""},
      {"carriage return in a value", key("METHOD=AES-128,URI=\"k\",X=\"\r#EXT-X-KEY:METHOD=NONE\""), R::BadAttributes, ""},
      {"zero byte in a value", key(std::string("METHOD=AES-128,URI=\"k\0\"", 23)), R::BadAttributes, ""},
      {"stray quote after a value", key("METHOD=AES-128,URI=\"k\"x,IV=0x1"), R::BadAttributes, ""},
      {"quote inside an unquoted value", key("METHOD=AES\"-128,URI=\"k\""), R::BadAttributes, ""},
      {"quote never closed", key("METHOD=AES-128,URI=\"k"), R::BadAttributes, ""},
      {"name given twice", key("METHOD=AES-128,URI=\"k\",URI=\"file:///x\""), R::BadAttributes, ""},
      {"empty attribute", key("METHOD=AES-128,,URI=\"k\""), R::BadAttributes, ""},
      {"IV past 128 bits", key("METHOD=AES-128,URI=\"k\",IV=0x" + std::string(33, 'a')), R::BadAttributes, ""},
      {"IV not hex", key("METHOD=AES-128,URI=\"k\",IV=0xZZ"), R::BadAttributes, ""},
      {"quoted method", key("METHOD=\"AES-128\",URI=\"k\""), R::BadAttributes, ""},
      {"key without an address", key("METHOD=AES-128"), R::BadAttributes, ""},
      {"init section without an address", head + "#EXT-X-MAP:BYTERANGE=\"1@0\"\n" + tail, R::BadAttributes, ""},
      {"master without an address", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\n", R::NoAddress, ""},
      {"segments at the bound", at_bound, R::None, ""},
      {"segments past the bound", past_bound, R::TooLarge, ""},
      {"address at the bound", segment(long_name), R::None, ""},
      {"address past the bound", segment(long_name + "x"), R::TooLarge, ""},
  };
  for (const auto& c : cases) {
    const HlsPlaylist p = parse_playlist(c.text, "http://h/a/list.m3u8");
    EXPECT_EQ(p.refusal, c.refusal) << c.name;
    EXPECT_EQ(p.refused_address, c.address) << c.name;
  }
  EXPECT_EQ(parse_playlist("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\n", "http://h/m.m3u8").kind, HlsPlaylist::Kind::Media);
}

// A key may come inside the playlist as a "data:" address, base64 or percent-encoded text.
TEST(HlsPlaylistReading, DataKeysAreDecoded) {
  const struct {
    std::string address;
    std::optional<std::string> bytes;
  } cases[] = {
      {"data:application/octet-stream;base64,MDEyMzQ1Njc4OWFiY2RlZg==", "0123456789abcdef"},
      {"data:;base64,MDEyMzQ1Njc4OWFiY2RlZg", "0123456789abcdef"},  // padding left off
      {"DATA:;BASE64,MDEyMzQ1Njc4OWFiY2RlZg%3D%3D", "0123456789abcdef"},
      {"data:,0123456789%61bcdef", "0123456789abcdef"},
      {"data:text/plain;charset=US-ASCII,%00%FF", std::string("\0\xFF", 2)},
      {"data:;base64,MDEyMzQ1Njc4OWFiY2RlZg===", std::nullopt},
      {"data:;base64,MDEyM", std::nullopt},  // one character past a whole group
      {"data:;base64,MDEy MzQ1", std::nullopt},
      {"data:0123456789abcdef", std::nullopt},  // no comma
      {"data:,%zz", std::nullopt},
      {"http://h/k.key", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(decode_data_address(c.address), c.bytes) << c.address;

  const HlsPlaylist p = parse_playlist(
      "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"data:;base64,MDEyMzQ1Njc4OWFiY2RlZg==\"\n#EXTINF:2,\na.ts\n#EXT-X-ENDLIST\n",
      "https://c/v/p.m3u8");
  ASSERT_EQ(p.refusal, HlsPlaylist::Refusal::None);
  ASSERT_EQ(p.keys.size(), 1u);
  EXPECT_EQ(p.keys[0].bytes, "0123456789abcdef");
  // ffmpeg gets the key from us, as any fetched key.
  EXPECT_NE(local_playlist(p, "http://127.0.0.1:9/").find("#EXT-X-KEY:METHOD=AES-128,URI=\"http://127.0.0.1:9/k0.key\"\n"),
            std::string::npos);
}

// Valid text that other readers split wrongly: a quoted comma, blanks around separators, unknown
// attributes. Only what ffmpeg needs is written back, each value in its own form.
TEST(HlsPlaylistReading, KeyAttributesAreWrittenBackFromTheirValuesOnly) {
  const HlsPlaylist p = parse_playlist(
      "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128, URI=\"k.key\" ,X=\"a,URI=file:///any\",IV=0X00ff,KEYFORMAT=\"identity\","
      "KEYFORMATVERSIONS=\"1 2\"\n#EXTINF:2,\na.ts\n#EXT-X-ENDLIST\n",
      "https://c/v/p.m3u8");
  ASSERT_EQ(p.refusal, HlsPlaylist::Refusal::None);
  ASSERT_EQ(p.keys.size(), 1u);
  EXPECT_EQ(p.keys[0].uri, "https://c/v/k.key");
  EXPECT_NE(local_playlist(p, "http://127.0.0.1:9/")
                .find("\n#EXT-X-KEY:METHOD=AES-128,URI=\"http://127.0.0.1:9/k0.key\",IV=0x00ff,KEYFORMAT=\"identity\"\n"),
            std::string::npos);
}

// A part already on disk is named to ffmpeg by file only where every ffmpeg reads that name as
// that very file; anything else goes through the server.
TEST(HlsPlaylistReading, LocalFileAddressOnlyWhereFfmpegReadsItAsThatFile) {
  const struct {
    std::string path;
    std::optional<std::string> address;
  } cases[] = {
      {"/home/用户/down/huifang_1.segments/s0.ts", "file:///home/用户/down/huifang_1.segments/s0.ts"},
      {"/tmp/a b/k0.key", "file:///tmp/a b/k0.key"},
      {"C:\\down\\huifang_1.segments\\s0.ts", std::nullopt},  // an older ffmpeg joins it to the server's address
      {"C:/down/s0.ts", std::nullopt},
      {"down/s0.ts", std::nullopt},
      {"/down/../x/s0.ts", std::nullopt},  // folded away by address resolution
      {"/down/./s0.ts", std::nullopt},
      {"/down//s0.ts", std::nullopt},
      {"/down/100%/s0.ts", std::nullopt},
      {"/down/a?b/s0.ts", std::nullopt},
      {"/down/#1/s0.ts", std::nullopt},
      {"/down/\"x\"/m0.mp4", std::nullopt},  // would end the quoted URI of a key or init section
      {"/down/a\nb/s0.ts", std::nullopt},    // would end the playlist's line
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(local_file_address(c.path), c.address) << c.path;
}

TEST(ReplayTexts, ProgressLineForATableOfStates) {
  const struct {
    ReplayProgress p;
    std::string text;
  } cases[] = {
      {{812, 2400, 1299227607, 14.2 * 1048576, 192},
       "回放下载：已完成 812/2400 段（33.8%），1.21 GB，14.2 MB/s，剩余约 3 分 12 秒"},
      {{0, 150, 0, 0, -1}, "回放下载：已完成 0/150 段（0.0%），0 B，0 B/s，剩余时间估算中"},
      {{1, 3, 700 * 1024, 512 * 1024, 4.4}, "回放下载：已完成 1/3 段（33.3%），700 KB，512 KB/s，剩余约 4 秒"},
      {{2399, 2400, 5ull << 30, 3e6, 3725}, "回放下载：已完成 2399/2400 段（99.9%），5.00 GB，2.9 MB/s，剩余约 1 小时 02 分"},
      {{150, 150, 160 * 1048576, 0, -1}, "回放下载：已完成 150/150 段（100.0%），160.0 MB，0 B/s"},
  };
  for (const auto& c : cases) EXPECT_EQ(replay_progress_text(c.p), c.text);
  EXPECT_EQ(gap_text(2470, 2474, 1235), "缺少 00:41:10–00:41:14（第 1235 段）");
  EXPECT_EQ(gap_text(2.9999999, 4.0000001, 4), "缺少 00:00:03–00:00:04（第 4 段）");
  EXPECT_EQ(declared_gap_text(18, 20, 10, 10), "回放列表声明的空白：00:00:18–00:00:20（第 10 段）");
  EXPECT_EQ(declared_gap_text(18, 24.5, 10, 12), "回放列表声明的空白：00:00:18–00:00:25（第 10–12 段）");
}

TEST(ReplayTexts, TheProgressLineIsReplacedAndTheBoxStaysSmall) {
  app::WindowModel window;
  write_display(window, "ffmpeg 的警告");
  replace_display_line(window, kReplayProgressPrefix, "回放下载：一");
  write_display(window, "另一行");
  replace_display_line(window, kReplayProgressPrefix, "回放下载：二");
  EXPECT_EQ(window.text(kDisplayBox), "ffmpeg 的警告\r\n另一行\r\n回放下载：二\r\n");
  window.set_text(kDisplayBox, std::string(2100, 'x') + "\r\n回放下载：一\r\n");
  replace_display_line(window, kReplayProgressPrefix, "回放下载：二");
  EXPECT_EQ(window.text(kDisplayBox), "回放下载：二\r\n");
}

}  // namespace
}  // namespace qz::record
