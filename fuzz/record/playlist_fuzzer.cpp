// The playlist reader and the local playlist written from it: every text a CDN may answer with.
#include <cstddef>
#include <cstdint>
#include <string>

#include "record/hls_playlist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const qz::record::HlsPlaylist playlist = qz::record::parse_playlist(text, "https://cdn.example/a/b/list.m3u8?t=1");
  if (playlist.kind == qz::record::HlsPlaylist::Kind::Media) {
    (void)qz::record::local_playlist(playlist, "http://127.0.0.1:1/");
    for (std::size_t i = 0; i < playlist.segments.size(); ++i) (void)qz::record::local_segment_name(playlist, i);
    (void)playlist.total_duration();
  }
  (void)playlist.best_variant();
  // The address resolution on its own, with the text as the reference.
  (void)qz::record::resolve_address("http://h/x/y.m3u8", text.substr(0, 256));
  return 0;
}
