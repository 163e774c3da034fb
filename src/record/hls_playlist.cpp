#include "record/hls_playlist.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "app/web_address.h"

namespace qz::record {
namespace {

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::optional<std::uint64_t> parse_number(std::string_view s) {
  s = trim(s);
  if (s.empty() || s.size() > 19) return std::nullopt;
  std::uint64_t n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return n;
}

std::optional<double> parse_decimal(std::string_view s) {
  s = trim(s);
  if (s.empty() || s.size() > 32) return std::nullopt;
  const std::string copy(s);
  char* end = nullptr;
  const double d = std::strtod(copy.c_str(), &end);
  // No real segment lasts years; a larger number is noise, and would overflow the whole
  // seconds written back into our local playlist.
  constexpr double kLongestSensibleSeconds = 1e9;
  if (end == copy.c_str() || !std::isfinite(d) || d < 0 || d > kLongestSensibleSeconds) return std::nullopt;
  return d == 0 ? 0.0 : d;  // "-0" is 0, and written back as such
}

struct AttributeValue {
  std::string text;  // quotes taken off
  bool quoted = false;
};
using Attributes = std::map<std::string, AttributeValue>;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::size_t skip_blanks(std::string_view text, std::size_t i) {
  while (i < text.size() && is_blank(text[i])) ++i;
  return i;
}

bool is_name_character(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// `NAME=value,NAME="quoted, value"` into its names and values; nothing when the list breaks the
// grammar: a control byte anywhere, a name of other characters, a name given twice, a quote that
// does not close or is followed by more than blanks before the next comma, a quote or blank
// inside an unquoted value, an empty value or attribute. Blanks around names and separators are
// forgiven, as servers write them.
std::optional<Attributes> parse_attributes(std::string_view text) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7F) return std::nullopt;
  }
  Attributes out;
  std::size_t i = skip_blanks(text, 0);
  while (i < text.size()) {
    const std::size_t name_start = i;
    while (i < text.size() && is_name_character(text[i])) ++i;
    const std::string name(text.substr(name_start, i - name_start));
    i = skip_blanks(text, i);
    if (name.empty() || i >= text.size() || text[i] != '=') return std::nullopt;
    i = skip_blanks(text, i + 1);
    AttributeValue value;
    if (i < text.size() && text[i] == '"') {
      const std::size_t close = text.find('"', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      value.text = std::string(text.substr(i + 1, close - i - 1));
      value.quoted = true;
      i = skip_blanks(text, close + 1);
    } else {
      const std::size_t start = i;
      while (i < text.size() && text[i] != ',' && text[i] != '"' && !is_blank(text[i])) ++i;
      value.text = std::string(text.substr(start, i - start));
      i = skip_blanks(text, i);
      if (value.text.empty()) return std::nullopt;
    }
    if (!out.emplace(name, std::move(value)).second) return std::nullopt;
    if (i == text.size()) break;
    if (text[i] != ',') return std::nullopt;
    i = skip_blanks(text, i + 1);
    if (i == text.size()) return std::nullopt;  // a comma with nothing after it
  }
  return out;
}

const AttributeValue* find_attribute(const Attributes& attributes, const char* name) {
  const auto it = attributes.find(name);
  return it == attributes.end() ? nullptr : &it->second;
}

bool all_of(std::string_view text, bool (*ok)(char)) {
  return !text.empty() && std::all_of(text.begin(), text.end(), ok);
}

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool is_method_character(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'; }
// What a key format may hold to be written back: "identity", "com.apple.streamingkeydelivery",
// "urn:uuid:...", "1/2/5".
bool is_plain_character(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == ':' ||
         c == '/' || c == '-' || c == '_';
}

// "n[@o]"; without an offset the range follows the previous one of the same address.
std::optional<HlsByteRange> parse_range(std::string_view text, std::uint64_t follows) {
  const std::size_t at = text.find('@');
  const auto length = parse_number(text.substr(0, at));
  if (!length || *length == 0) return std::nullopt;
  HlsByteRange range{*length, follows};
  if (at != std::string_view::npos) {
    const auto offset = parse_number(text.substr(at + 1));
    if (!offset) return std::nullopt;
    range.offset = *offset;
  }
  if (range.offset > UINT64_MAX - range.length) return std::nullopt;
  return range;
}

// The part of an address before its query or fragment.
std::size_t path_end(const std::string& address) { return std::min(address.find_first_of("?#"), address.size()); }

bool has_scheme(const std::string& reference) {
  const std::size_t colon = reference.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = reference[i];
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
    if (!ok) return false;
  }
  return true;
}

// Removes "." and ".." segments from an absolute path.
std::string remove_dots(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t i = 1;
  while (i <= path.size()) {
    std::size_t slash = path.find('/', i);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(i, slash - i);
    const bool last = slash == path.size();
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      if (last) parts.emplace_back();
    } else if (part == ".") {
      if (last) parts.emplace_back();
    } else {
      parts.push_back(part);
    }
    i = slash + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

// The file extension of an address's path when it is a short plain one, else `fallback`.
std::string extension_of(const std::string& address, const char* fallback) {
  const std::string path = address.substr(0, path_end(address));
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return fallback;
  std::string ext = path.substr(dot + 1);
  if (ext.empty() || ext.size() > 5) return fallback;
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return fallback;
  }
  return ext;
}

std::string format_duration(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", seconds);
  return text;
}

// The key tag as ffmpeg gets it: each value checked when read, the URI ours.
std::string key_line(const HlsKey& key, const std::string& uri) {
  std::string line = "#EXT-X-KEY:METHOD=" + key.method + ",URI=\"" + uri + "\"";
  if (!key.iv.empty()) line += ",IV=0x" + key.iv;
  if (!key.keyformat.empty()) line += ",KEYFORMAT=\"" + key.keyformat + "\"";
  if (!key.keyformat_versions.empty()) line += ",KEYFORMATVERSIONS=\"" + key.keyformat_versions + "\"";
  return line;
}

// What an EXT-X-KEY says: a key, none (METHOD=NONE), or a refusal of the playlist.
enum class KeyTag { Key, NoKey, Bad };

KeyTag read_key(const Attributes& attributes, HlsKey& key, std::string& reference) {
  const AttributeValue* method = find_attribute(attributes, "METHOD");
  if (!method || method->quoted || !all_of(method->text, is_method_character)) return KeyTag::Bad;
  if (method->text == "NONE") return KeyTag::NoKey;
  const AttributeValue* uri = find_attribute(attributes, "URI");
  if (!uri || !uri->quoted || uri->text.empty()) return KeyTag::Bad;
  key.method = method->text;
  reference = uri->text;
  if (const AttributeValue* iv = find_attribute(attributes, "IV")) {
    const std::string_view t = iv->text;
    // A 128-bit number: at most 32 hex digits.
    if (iv->quoted || t.size() < 3 || t.size() > 34 || t[0] != '0' || (t[1] != 'x' && t[1] != 'X') ||
        !all_of(t.substr(2), is_hex_digit))
      return KeyTag::Bad;
    key.iv = std::string(t.substr(2));
  }
  for (const auto& [name, field] : {std::pair{"KEYFORMAT", &key.keyformat}, std::pair{"KEYFORMATVERSIONS", &key.keyformat_versions}}) {
    const AttributeValue* value = find_attribute(attributes, name);
    if (!value) continue;
    if (!value->quoted) return KeyTag::Bad;
    if (all_of(value->text, is_plain_character)) *field = value->text;
  }
  return KeyTag::Key;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool starts_with_lower(std::string_view s, std::string_view lower_prefix) {
  if (s.size() < lower_prefix.size()) return false;
  for (std::size_t i = 0; i < lower_prefix.size(); ++i)
    if (lower(s[i]) != lower_prefix[i]) return false;
  return true;
}

bool is_data_address(std::string_view s) { return starts_with_lower(s, "data:"); }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> percent_decoded(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (s.size() - i < 3) return std::nullopt;  // "%" needs two hex digits after it
    const int high = hex_value(s[i + 1]), low = hex_value(s[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard base64, its padding optional.
std::optional<std::string> base64_decoded(std::string_view s) {
  std::size_t padding = 0;
  while (!s.empty() && s.back() == '=') {
    s.remove_suffix(1);
    ++padding;
  }
  if (padding > 2 || s.size() % 4 == 1 || (padding > 0 && (s.size() + padding) % 4 != 0)) return std::nullopt;
  std::string out;
  out.reserve(s.size() / 4 * 3 + 2);
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : s) {
    const int v = base64_value(c);
    if (v < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

// Address checks and the bounds, kept while one playlist is read.
class AddressBudget {
 public:
  // Counts `bytes` of the playlist's own text (a key given in it) against the bound of all
  // addresses; false (and the playlist refused) past it.
  bool charge(HlsPlaylist& playlist, std::size_t bytes) {
    if (bytes > kMaxAllAddressBytes - used_) {
      playlist.refusal = HlsPlaylist::Refusal::TooLarge;
      return false;
    }
    used_ += bytes;
    return true;
  }

  // The reference made absolute, or nothing (and the playlist's refusal set) when it may not be
  // fetched.
  std::optional<std::string> resolve(HlsPlaylist& playlist, const std::string& base, std::string_view reference) {
    if (reference.size() > kMaxAddressBytes) return refuse(playlist, HlsPlaylist::Refusal::TooLarge);
    std::string address = resolve_address(base, std::string(reference));
    if (address.size() > kMaxAddressBytes || address.size() > kMaxAllAddressBytes - used_)
      return refuse(playlist, HlsPlaylist::Refusal::TooLarge);
    if (!app::is_web_address(address)) {
      playlist.refused_address = std::move(address);
      return refuse(playlist, HlsPlaylist::Refusal::UnsupportedAddress);
    }
    used_ += address.size();
    return address;
  }

 private:
  static std::nullopt_t refuse(HlsPlaylist& playlist, HlsPlaylist::Refusal why) {
    playlist.refusal = why;
    return std::nullopt;
  }
  std::size_t used_ = 0;
};

template <class T>
bool room_for_one_more(HlsPlaylist& playlist, const std::vector<T>& list) {
  if (list.size() < kMaxPlaylistEntries) return true;
  playlist.refusal = HlsPlaylist::Refusal::TooLarge;
  return false;
}

// A key the playlist gives as a "data:" address, decoded and bounded as a fetched key is; false
// (and the playlist refused, naming the address) when it is too long or does not decode.
bool read_key_data(HlsPlaylist& playlist, AddressBudget& budget, const std::string& reference, HlsKey& key) {
  const auto refuse = [&](HlsPlaylist::Refusal why) {
    playlist.refusal = why;
    playlist.refused_address = reference.substr(0, kMaxAddressBytes);
    return false;
  };
  // Even percent-encoded, a key within its bound is a few KB of text.
  if (reference.size() > kMaxAddressBytes) return refuse(HlsPlaylist::Refusal::KeyTooLarge);
  if (!budget.charge(playlist, reference.size())) return false;
  auto bytes = decode_data_address(reference);
  if (!bytes || bytes->empty()) return refuse(HlsPlaylist::Refusal::KeyUnreadable);
  if (bytes->size() > kMaxKeyBytes) return refuse(HlsPlaylist::Refusal::KeyTooLarge);
  key.uri = reference;
  key.bytes = std::move(*bytes);
  return true;
}

}  // namespace

std::optional<std::string> decode_data_address(std::string_view address) {
  if (!is_data_address(address)) return std::nullopt;
  const std::size_t comma = address.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  const std::string_view header = address.substr(5, comma - 5);
  constexpr std::string_view kBase64 = ";base64";
  const bool base64 = header.size() >= kBase64.size() && starts_with_lower(header.substr(header.size() - kBase64.size()), kBase64);
  auto payload = percent_decoded(address.substr(comma + 1));
  if (!payload || !base64) return payload;
  return base64_decoded(*payload);
}

double HlsPlaylist::total_duration() const {
  return segments.empty() ? 0 : segments.back().start + segments.back().duration;
}

std::optional<HlsVariant> HlsPlaylist::best_variant() const {
  if (variants.empty()) return std::nullopt;
  return *std::max_element(variants.begin(), variants.end(),
                           [](const HlsVariant& a, const HlsVariant& b) { return a.bandwidth < b.bandwidth; });
}

std::optional<HlsRendition> HlsPlaylist::audio_of(const HlsVariant& variant) const {
  if (variant.audio.empty()) return std::nullopt;
  std::optional<HlsRendition> first;
  for (const HlsRendition& r : audio_renditions) {
    if (r.group != variant.audio) continue;
    if (r.is_default) return r;
    if (!first) first = r;
  }
  return first;
}

std::string resolve_address(const std::string& base, const std::string& reference) {
  if (has_scheme(reference)) return reference;
  const std::size_t scheme_end = base.find("://");
  if (scheme_end == std::string::npos) return reference;
  if (starts_with(reference, "//")) return base.substr(0, scheme_end + 1) + reference;
  const std::size_t authority_end = std::min(base.find_first_of("/?#", scheme_end + 3), base.size());
  const std::string origin = base.substr(0, authority_end);
  const std::string base_path = base.substr(authority_end, path_end(base) - authority_end);
  if (reference.empty()) return base.substr(0, std::min(base.find('#'), base.size()));
  if (reference[0] == '?') return origin + (base_path.empty() ? "/" : base_path) + reference;
  const std::size_t ref_path_end = path_end(reference);
  std::string path;
  if (reference[0] == '/') {
    path = reference.substr(0, ref_path_end);
  } else {
    const std::size_t slash = base_path.rfind('/');
    path = (slash == std::string::npos ? "/" : base_path.substr(0, slash + 1)) + reference.substr(0, ref_path_end);
  }
  return origin + remove_dots(path) + reference.substr(ref_path_end);
}

HlsPlaylist parse_playlist(std::string_view text, const std::string& address) {
  HlsPlaylist playlist;
  if (starts_with(text, "\xEF\xBB\xBF")) text.remove_prefix(3);
  if (!starts_with(text, "#EXTM3U")) return playlist;
  playlist.kind = HlsPlaylist::Kind::Media;

  AddressBudget budget;
  double duration = -1;
  std::optional<HlsByteRange> range;
  bool discontinuity = false, gap = false;
  int key = -1, map = -1;
  std::optional<HlsVariant> variant;  // announced by EXT-X-STREAM-INF, waiting for its address
  bool variants_announced = false;
  std::map<std::string, std::uint64_t> range_ends;  // where the last range of each address ended
  double start = 0;
  const auto bad_attributes = [&] { playlist.refusal = HlsPlaylist::Refusal::BadAttributes; };

  std::size_t pos = 0;
  while (pos < text.size() && playlist.refusal == HlsPlaylist::Refusal::None) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    if (line[0] != '#') {
      if (variant) {
        if (!room_for_one_more(playlist, playlist.variants)) break;
        auto uri = budget.resolve(playlist, address, line);
        if (!uri) break;
        variant->uri = std::move(*uri);
        playlist.variants.push_back(std::move(*variant));
        variant.reset();
      } else if (duration >= 0) {
        if (!room_for_one_more(playlist, playlist.segments)) break;
        auto uri = budget.resolve(playlist, address, line);
        if (!uri) break;
        HlsSegment segment;
        segment.uri = std::move(*uri);
        segment.duration = duration;
        segment.key = key;
        segment.map = map;
        segment.discontinuity = discontinuity;
        segment.gap = gap;
        segment.start = start;
        if (range) {
          segment.range = range;
          range_ends[segment.uri] = range->offset + range->length;
        }
        start += duration;
        playlist.segments.push_back(std::move(segment));
        duration = -1;
        range.reset();
        discontinuity = false;
        gap = false;
      }
      continue;
    }
    const std::size_t colon = line.find(':');
    const std::string_view tag = line.substr(0, colon);
    const std::string_view value = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
    if (tag == "#EXTINF") {
      duration = parse_decimal(value.substr(0, value.find(','))).value_or(0);
    } else if (tag == "#EXT-X-BYTERANGE") {
      // Without an offset the range follows the previous one; the address comes on the next
      // line, so the previous segment's address stands for it (the usual single-file layout).
      std::uint64_t follows = 0;
      if (!playlist.segments.empty()) {
        const auto it = range_ends.find(playlist.segments.back().uri);
        if (it != range_ends.end()) follows = it->second;
      }
      range = parse_range(value, follows);
    } else if (tag == "#EXT-X-DISCONTINUITY") {
      discontinuity = true;
    } else if (tag == "#EXT-X-GAP") {
      gap = true;
    } else if (tag == "#EXT-X-ENDLIST") {
      playlist.ended = true;
    } else if (tag == "#EXT-X-TARGETDURATION") {
      playlist.target_duration = parse_decimal(value).value_or(0);
    } else if (tag == "#EXT-X-MEDIA-SEQUENCE") {
      playlist.media_sequence = parse_number(value).value_or(0);
    } else if (tag == "#EXT-X-VERSION") {
      playlist.version = static_cast<int>(std::min<std::uint64_t>(parse_number(value).value_or(0), 100));
    } else if (tag == "#EXT-X-KEY") {
      const auto attributes = parse_attributes(value);
      if (!attributes) {
        bad_attributes();
        break;
      }
      HlsKey k;
      std::string reference;
      const KeyTag read = read_key(*attributes, k, reference);
      if (read == KeyTag::Bad) {
        bad_attributes();
        break;
      }
      if (read == KeyTag::NoKey) {
        key = -1;
        continue;
      }
      if (!room_for_one_more(playlist, playlist.keys)) break;
      if (is_data_address(reference)) {
        if (!read_key_data(playlist, budget, reference, k)) break;
      } else {
        auto uri = budget.resolve(playlist, address, reference);
        if (!uri) break;
        k.uri = std::move(*uri);
      }
      playlist.keys.push_back(std::move(k));
      key = static_cast<int>(playlist.keys.size()) - 1;
    } else if (tag == "#EXT-X-MAP") {
      const auto attributes = parse_attributes(value);
      const AttributeValue* uri = attributes ? find_attribute(*attributes, "URI") : nullptr;
      if (!uri || !uri->quoted || uri->text.empty()) {
        bad_attributes();
        break;
      }
      HlsMap m;
      if (const AttributeValue* r = find_attribute(*attributes, "BYTERANGE")) {
        m.range = r->quoted ? parse_range(r->text, 0) : std::nullopt;
        if (!m.range) {
          bad_attributes();
          break;
        }
      }
      if (!room_for_one_more(playlist, playlist.maps)) break;
      auto absolute = budget.resolve(playlist, address, uri->text);
      if (!absolute) break;
      m.uri = std::move(*absolute);
      playlist.maps.push_back(std::move(m));
      map = static_cast<int>(playlist.maps.size()) - 1;
    } else if (tag == "#EXT-X-STREAM-INF") {
      const auto attributes = parse_attributes(value);
      if (!attributes) {
        bad_attributes();
        break;
      }
      variants_announced = true;
      variant.emplace();
      if (const AttributeValue* bandwidth = find_attribute(*attributes, "BANDWIDTH"))
        variant->bandwidth = parse_number(bandwidth->text).value_or(0);
      if (const AttributeValue* audio = find_attribute(*attributes, "AUDIO"); audio && audio->quoted)
        variant->audio = audio->text;
    } else if (tag == "#EXT-X-MEDIA") {
      const auto attributes = parse_attributes(value);
      const AttributeValue* type = attributes ? find_attribute(*attributes, "TYPE") : nullptr;
      if (!type || type->quoted) {
        bad_attributes();
        break;
      }
      const AttributeValue* uri = find_attribute(*attributes, "URI");
      if (type->text != "AUDIO" || !uri) continue;  // other media, or sound carried by the variants
      const AttributeValue* group = find_attribute(*attributes, "GROUP-ID");
      if (!uri->quoted || uri->text.empty() || !group || !group->quoted) {
        bad_attributes();
        break;
      }
      if (!room_for_one_more(playlist, playlist.audio_renditions)) break;
      auto absolute = budget.resolve(playlist, address, uri->text);
      if (!absolute) break;
      const AttributeValue* is_default = find_attribute(*attributes, "DEFAULT");
      playlist.audio_renditions.push_back({group->text, std::move(*absolute), is_default && is_default->text == "YES"});
    }
  }
  if (playlist.refusal == HlsPlaylist::Refusal::None && variants_announced && playlist.variants.empty())
    playlist.refusal = HlsPlaylist::Refusal::NoAddress;
  if (!playlist.variants.empty()) playlist.kind = HlsPlaylist::Kind::Master;
  return playlist;
}

std::string local_segment_name(const HlsPlaylist& playlist, std::size_t index) {
  const bool fragmented = playlist.segments[index].map >= 0;
  return "s" + std::to_string(index) + "." + extension_of(playlist.segments[index].uri, fragmented ? "m4s" : "ts");
}

std::string local_key_name(std::size_t index) { return "k" + std::to_string(index) + ".key"; }

std::string local_map_name(const HlsPlaylist& playlist, std::size_t index) {
  return "m" + std::to_string(index) + "." + extension_of(playlist.maps[index].uri, "mp4");
}

std::string local_playlist(const HlsPlaylist& playlist, const std::string& local_base) {
  return local_playlist(playlist, [&](const std::string& name) { return local_base + name; });
}

std::string local_playlist(const HlsPlaylist& playlist, const std::function<std::string(const std::string&)>& address_of) {
  std::string out = "#EXTM3U\n#EXT-X-VERSION:" + std::to_string(std::max(playlist.version, 3)) + "\n";
  double longest = playlist.target_duration;
  for (const HlsSegment& s : playlist.segments) longest = std::max(longest, s.duration);
  out += "#EXT-X-TARGETDURATION:" + std::to_string(static_cast<long long>(std::ceil(longest))) + "\n";
  // Kept as served: a key without an IV takes the segment's sequence number as its IV.
  out += "#EXT-X-MEDIA-SEQUENCE:" + std::to_string(playlist.media_sequence) + "\n";
  out += "#EXT-X-PLAYLIST-TYPE:VOD\n";
  int key = -1, map = -1;
  for (std::size_t i = 0; i < playlist.segments.size(); ++i) {
    const HlsSegment& s = playlist.segments[i];
    if (s.discontinuity) out += "#EXT-X-DISCONTINUITY\n";
    if (s.key != key) {
      out += s.key < 0 ? std::string("#EXT-X-KEY:METHOD=NONE")
                       : key_line(playlist.keys[static_cast<std::size_t>(s.key)],
                                  address_of(local_key_name(static_cast<std::size_t>(s.key))));
      out += "\n";
      key = s.key;
    }
    if (s.map != map && s.map >= 0) {
      out += "#EXT-X-MAP:URI=\"" + address_of(local_map_name(playlist, static_cast<std::size_t>(s.map))) + "\"\n";
      map = s.map;
    }
    out += "#EXTINF:" + format_duration(s.duration) + ",\n" + address_of(local_segment_name(playlist, i)) + "\n";
  }
  out += "#EXT-X-ENDLIST\n";
  return out;
}

std::string local_master_playlist(const std::string& picture_address, const std::string& sound_address,
                                  std::uint64_t bandwidth) {
  return "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"audio\",NAME=\"audio\",DEFAULT=YES,AUTOSELECT=YES,URI=\"" +
         sound_address + "\"\n#EXT-X-STREAM-INF:BANDWIDTH=" + std::to_string(std::max<std::uint64_t>(bandwidth, 1)) +
         ",AUDIO=\"audio\"\n" + picture_address + "\n";
}

bool readable_as_file(const std::string& local_name) {
  // The extensions every ffmpeg takes from a file without -allowed_extensions.
  static const char* const kMedia[] = {"ts", "m4s", "mp4", "m4a", "m4v", "aac"};
  const std::size_t dot = local_name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = local_name.substr(dot + 1);
  return std::any_of(std::begin(kMedia), std::end(kMedia), [&](const char* m) { return ext == m; });
}

std::optional<std::string> local_file_address(const std::string& absolute_path) {
  if (absolute_path.empty() || absolute_path[0] != '/') return std::nullopt;
  if (absolute_path.find_first_of("\r\n\"?#%\\") != std::string::npos) return std::nullopt;
  const std::string folders = absolute_path + "/";
  if (folders.find("/./") != std::string::npos || folders.find("/../") != std::string::npos ||
      folders.find("//") != std::string::npos)
    return std::nullopt;
  return "file://" + absolute_path;
}

}  // namespace qz::record
