#pragma once
// Reading an HLS playlist as a replay CDN serves it: a master playlist (its variants) or a media
// playlist (segments with their keys, init sections, byte ranges and discontinuities), every
// address made absolute against the playlist's own. And writing the playlist ffmpeg is given
// instead, whose segments, keys and init sections are our own local copies.
//
// A playlist comes from a server we do not trust. It is read strictly and within bounds: an
// address that is not http or https, a tag whose attributes break the grammar, or more than the
// bounds below refuse the whole playlist before anything it names is fetched. ffmpeg's playlist is
// written from the parsed values alone, never from the server's text.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/web_address.h"

namespace qz::record {

struct HlsByteRange {
  std::uint64_t length = 0;
  std::uint64_t offset = 0;
};

// The most segments (and, each, keys, init sections and variants) a playlist may name, the longest
// address, and the most address bytes in all: a replay of several days stays well within them, and
// a playlist past them could make the 32-bit program run out of memory.
inline constexpr std::size_t kMaxPlaylistEntries = 200000;
inline constexpr std::size_t kMaxAddressBytes = app::kMaxWebAddressBytes;
inline constexpr std::size_t kMaxAllAddressBytes = 128u << 20;

// The most a key may hold, given in the playlist or fetched: a key is 16 bytes.
inline constexpr std::size_t kMaxKeyBytes = 1024;

// One EXT-X-KEY that encrypts (METHOD=NONE is no key), with what ffmpeg needs to use it.
struct HlsKey {
  std::string method;             // "AES-128", "SAMPLE-AES", ...: capitals, digits and "-"
  std::string uri;                // absolute; or the "data:" address as written, for a key given in the playlist
  std::optional<std::string> bytes;  // the key itself when the playlist gives it as a "data:" address
  std::string iv;                 // the hex digits after "0x" as written, "" when none
  std::string keyformat;          // "" when none, or when not plain text
  std::string keyformat_versions;  // the same
};

// One EXT-X-MAP: an init section every later segment needs first.
struct HlsMap {
  std::string uri;  // absolute
  std::optional<HlsByteRange> range;
};

struct HlsSegment {
  std::string uri;  // absolute
  double duration = 0;  // seconds, from EXTINF
  std::optional<HlsByteRange> range;
  int key = -1;  // index into keys, -1: none
  int map = -1;  // index into maps, -1: none
  bool discontinuity = false;  // an EXT-X-DISCONTINUITY stands before it
  bool gap = false;  // EXT-X-GAP: the playlist says the segment does not exist; never fetched
  double start = 0;  // seconds from the replay's start
};

struct HlsVariant {
  std::string uri;  // absolute
  std::uint64_t bandwidth = 0;
  std::string audio;  // the AUDIO group its sound comes from, "" when none
};

// An EXT-X-MEDIA of TYPE=AUDIO with a playlist of its own (one without carries its sound in the
// variants themselves).
struct HlsRendition {
  std::string group;
  std::string uri;  // absolute
  bool is_default = false;
};

struct HlsPlaylist {
  // Master: it names at least one variant. Media: anything else that starts as HLS does.
  enum class Kind { NotHls, Master, Media };
  Kind kind = Kind::NotHls;
  // Why nothing of the playlist may be fetched. Once set, reading stopped there: the playlist's
  // lists hold only what came before.
  enum class Refusal {
    None,
    TooLarge,            // past the bounds above
    UnsupportedAddress,  // `refused_address` is not http or https (or holds a blank or control byte)
    BadAttributes,       // a tag's attribute list breaks the grammar, or lacks what it needs
    NoAddress,           // variants announced, none with an address
    KeyTooLarge,         // a key given as a "data:" address holds more than kMaxKeyBytes
    KeyUnreadable,       // a key given as a "data:" address that does not decode
  };
  Refusal refusal = Refusal::None;
  std::string refused_address;
  std::vector<HlsVariant> variants;  // master
  std::vector<HlsRendition> audio_renditions;  // master
  std::vector<HlsSegment> segments;  // media, in playing order
  std::vector<HlsKey> keys;
  std::vector<HlsMap> maps;
  bool ended = false;  // EXT-X-ENDLIST: the replay is whole, not a live playlist still growing
  double target_duration = 0;
  std::uint64_t media_sequence = 0;
  int version = 0;

  double total_duration() const;
  // The variant with the highest bandwidth; nothing for a playlist without variants.
  std::optional<HlsVariant> best_variant() const;
  // The sound `variant` takes from a rendition: its group's DEFAULT=YES one, else the group's
  // first; nothing when its sound is in its own segments.
  std::optional<HlsRendition> audio_of(const HlsVariant& variant) const;
};

// The bytes a "data:" address holds ("data:[type][;base64],payload", the payload percent-encoded
// or base64); nothing when it is no such address or does not decode.
std::optional<std::string> decode_data_address(std::string_view address);

// Reads `text` (the playlist's body) fetched from `address`. Text that does not start with
// "#EXTM3U" is NotHls. Unknown tags are skipped; a known tag whose attribute list breaks the
// grammar refuses the playlist (a malformed EXTINF duration is read as 0).
HlsPlaylist parse_playlist(std::string_view text, const std::string& address);

// `reference` resolved against `base` as a browser does: absolute addresses stay, "//host/x",
// "/x", "x", "../x", and a query of its own (or none) in each case.
std::string resolve_address(const std::string& base, const std::string& reference);

// The local names of a playlist's parts, as ffmpeg will ask for them.
std::string local_segment_name(const HlsPlaylist& playlist, std::size_t index);
std::string local_key_name(std::size_t index);
std::string local_map_name(const HlsPlaylist& playlist, std::size_t index);

// The media playlist ffmpeg reads: the same segments, durations, discontinuities and keys (method,
// IV, plain key format), with every address replaced by `local_base` + its local name, and byte
// ranges dropped (each local copy holds just its range). Every line is made here from parsed
// values; nothing of the server's text is copied.
std::string local_playlist(const HlsPlaylist& playlist, const std::string& local_base);
// The same with each part's address chosen by `address_of(local name)`.
std::string local_playlist(const HlsPlaylist& playlist, const std::function<std::string(const std::string&)>& address_of);

// The master playlist ffmpeg reads when the sound has a playlist of its own: one variant (the
// picture's playlist, at `bandwidth`) whose sound is the one rendition, the sound's playlist.
std::string local_master_playlist(const std::string& picture_address, const std::string& sound_address,
                                  std::uint64_t bandwidth);

// True for a local name that every ffmpeg opens as a file without being told to allow any
// extension: a segment or init section with a media extension (a key never is).
bool readable_as_file(const std::string& local_name);

// The address under which ffmpeg reads a local file named in a playlist it got over HTTP, when it
// has one: "file://" and the absolute path. A Windows path has none (an older ffmpeg takes
// "file:C:/..." as a name relative to the playlist's server), nor has a path whose characters
// would be read as more than a path: a line break or quote (the playlist's syntax), "?", "#" or
// "%" (an address's), or "." and ".." folders (which address resolution folds away).
std::optional<std::string> local_file_address(const std::string& absolute_path);

}  // namespace qz::record
