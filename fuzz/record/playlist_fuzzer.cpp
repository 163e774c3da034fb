// The playlist reader and the local playlist written from it: every text a CDN may answer with.
// Beyond not crashing, the property that keeps ffmpeg ours: every line of the local playlist is
// one the writer makes from a parsed item, in the writer's order, and nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "record/hls_playlist.h"

namespace {

using qz::record::HlsKey;
using qz::record::HlsPlaylist;

constexpr const char* kBase = "http://127.0.0.1:1/";

void require(bool holds) {
  if (!holds) std::abort();
}

bool all_of(const std::string& text, const char* allowed) {
  return !text.empty() && text.find_first_not_of(allowed) == std::string::npos;
}

bool is_number_line(const std::string& line, const std::string& tag) {
  return line.rfind(tag, 0) == 0 && all_of(line.substr(tag.size()), "0123456789");
}

// The key line as the writer makes it, from values that must have the form the reader allows.
std::string expected_key_line(const HlsKey& key, std::size_t index) {
  require(all_of(key.method, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-") && key.method != "NONE");
  require(key.iv.empty() || (key.iv.size() <= 32 && all_of(key.iv, "0123456789abcdefABCDEF")));
  const char* plain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.:/-_";
  require(key.keyformat.empty() || all_of(key.keyformat, plain));
  require(key.keyformat_versions.empty() || all_of(key.keyformat_versions, plain));
  std::string line = "#EXT-X-KEY:METHOD=" + key.method + ",URI=\"" + kBase + qz::record::local_key_name(index) + "\"";
  if (!key.iv.empty()) line += ",IV=0x" + key.iv;
  if (!key.keyformat.empty()) line += ",KEYFORMAT=\"" + key.keyformat + "\"";
  if (!key.keyformat_versions.empty()) line += ",KEYFORMATVERSIONS=\"" + key.keyformat_versions + "\"";
  return line;
}

bool is_extinf_line(const std::string& line) {
  const std::string tag = "#EXTINF:";
  if (line.rfind(tag, 0) != 0 || line.back() != ',') return false;
  return all_of(line.substr(tag.size(), line.size() - tag.size() - 1), "0123456789.");
}

void check_local_playlist(const HlsPlaylist& playlist, const std::string& local) {
  require(local.find_first_of(std::string("\r\0", 2)) == std::string::npos);
  require(!local.empty() && local.back() == '\n');
  std::vector<std::string> lines;
  std::istringstream in(local);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::size_t at = 0;
  const auto next = [&]() -> const std::string& {
    require(at < lines.size());
    return lines[at++];
  };
  require(next() == "#EXTM3U");
  require(is_number_line(next(), "#EXT-X-VERSION:"));
  require(is_number_line(next(), "#EXT-X-TARGETDURATION:"));
  require(is_number_line(next(), "#EXT-X-MEDIA-SEQUENCE:"));
  require(next() == "#EXT-X-PLAYLIST-TYPE:VOD");
  int key = -1, map = -1;
  for (std::size_t i = 0; i < playlist.segments.size(); ++i) {
    const auto& s = playlist.segments[i];
    if (s.discontinuity) require(next() == "#EXT-X-DISCONTINUITY");
    if (s.key != key) {
      require(s.key < static_cast<int>(playlist.keys.size()));
      const std::string expected = s.key < 0 ? std::string("#EXT-X-KEY:METHOD=NONE")
                                             : expected_key_line(playlist.keys[static_cast<std::size_t>(s.key)],
                                                                 static_cast<std::size_t>(s.key));
      require(next() == expected);
      key = s.key;
    }
    if (s.map != map && s.map >= 0) {
      require(s.map < static_cast<int>(playlist.maps.size()));
      require(next() == "#EXT-X-MAP:URI=\"" + std::string(kBase) +
                            qz::record::local_map_name(playlist, static_cast<std::size_t>(s.map)) + "\"");
      map = s.map;
    }
    require(is_extinf_line(next()));
    const std::string name = qz::record::local_segment_name(playlist, i);
    require(all_of(name, "abcdefghijklmnopqrstuvwxyz0123456789."));
    require(next() == kBase + name);
  }
  require(next() == "#EXT-X-ENDLIST");
  require(at == lines.size());

  // Read back, it is the same replay: as many segments, each under a key of the same method.
  const HlsPlaylist again = qz::record::parse_playlist(local, kBase + std::string("index.m3u8"));
  require(again.refusal == HlsPlaylist::Refusal::None && again.kind == HlsPlaylist::Kind::Media && again.ended);
  require(again.segments.size() == playlist.segments.size());
  for (std::size_t i = 0; i < again.segments.size(); ++i) {
    const int k = playlist.segments[i].key, k2 = again.segments[i].key;
    require((k < 0) == (k2 < 0));
    if (k >= 0) require(playlist.keys[static_cast<std::size_t>(k)].method == again.keys[static_cast<std::size_t>(k2)].method);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const HlsPlaylist playlist = qz::record::parse_playlist(text, "https://cdn.example/a/b/list.m3u8?t=1");
  // A refused playlist reaches neither the fetcher nor ffmpeg.
  if (playlist.kind == HlsPlaylist::Kind::Media && playlist.refusal == HlsPlaylist::Refusal::None) {
    check_local_playlist(playlist, qz::record::local_playlist(playlist, kBase));
    (void)playlist.total_duration();
  }
  if (playlist.kind == HlsPlaylist::Kind::Master) require(playlist.best_variant().has_value());
  for (const auto& s : playlist.segments) require(s.uri.size() <= qz::record::kMaxAddressBytes);
  for (const auto& r : playlist.audio_renditions) require(r.uri.size() <= qz::record::kMaxAddressBytes);
  // A key the playlist gives itself is bounded as a fetched one.
  for (const auto& k : playlist.keys)
    if (k.bytes) require(!k.bytes->empty() && k.bytes->size() <= qz::record::kMaxKeyBytes);
  // The address resolution on its own, with the text as the reference.
  (void)qz::record::resolve_address("http://h/x/y.m3u8", text.substr(0, 256));
  return 0;
}
