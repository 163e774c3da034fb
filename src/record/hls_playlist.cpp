#include "record/hls_playlist.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

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
  return d;
}

// "a=1,B="x,y",C=0x10" into its names and values, quotes taken off.
std::map<std::string, std::string> parse_attributes(std::string_view text) {
  std::map<std::string, std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t eq = text.find('=', i);
    if (eq == std::string_view::npos) break;
    const std::string name(trim(text.substr(i, eq - i)));
    std::size_t j = eq + 1;
    std::string value;
    if (j < text.size() && text[j] == '"') {
      const std::size_t close = text.find('"', j + 1);
      if (close == std::string_view::npos) break;
      value = std::string(text.substr(j + 1, close - j - 1));
      j = close + 1;
      j = std::min(text.find(',', j), text.size());
    } else {
      const std::size_t comma = std::min(text.find(',', j), text.size());
      value = std::string(trim(text.substr(j, comma - j)));
      j = comma;
    }
    out[name] = value;
    i = j + 1;
  }
  return out;
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

// The key tag's attributes with the URI replaced by `uri`.
std::string key_line(const HlsKey& key, const std::string& uri) {
  if (key.method == "NONE" || key.uri.empty()) return "#EXT-X-KEY:METHOD=NONE";
  std::string line = "#EXT-X-KEY:METHOD=" + key.method + ",URI=\"" + uri + "\"";
  for (const auto& [name, value] : parse_attributes(key.attributes)) {
    if (name == "METHOD" || name == "URI") continue;
    const bool quoted = name == "KEYFORMAT" || name == "KEYFORMATVERSIONS";
    line += "," + name + "=" + (quoted ? "\"" + value + "\"" : value);
  }
  return line;
}

}  // namespace

double HlsPlaylist::total_duration() const {
  return segments.empty() ? 0 : segments.back().start + segments.back().duration;
}

std::optional<HlsVariant> HlsPlaylist::best_variant() const {
  if (variants.empty()) return std::nullopt;
  return *std::max_element(variants.begin(), variants.end(),
                           [](const HlsVariant& a, const HlsVariant& b) { return a.bandwidth < b.bandwidth; });
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

  double duration = -1;
  std::optional<HlsByteRange> range;
  bool discontinuity = false;
  int key = -1, map = -1;
  std::optional<std::uint64_t> variant_bandwidth;
  std::map<std::string, std::uint64_t> range_ends;  // where the last range of each address ended
  double start = 0;

  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    if (line[0] != '#') {
      const std::string uri = resolve_address(address, std::string(line));
      if (variant_bandwidth) {
        playlist.variants.push_back({uri, *variant_bandwidth});
        variant_bandwidth.reset();
      } else if (duration >= 0) {
        HlsSegment segment;
        segment.uri = uri;
        segment.duration = duration;
        segment.key = key;
        segment.map = map;
        segment.discontinuity = discontinuity;
        segment.start = start;
        if (range) {
          segment.range = range;
          range_ends[uri] = range->offset + range->length;
        }
        start += duration;
        playlist.segments.push_back(std::move(segment));
        duration = -1;
        range.reset();
        discontinuity = false;
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
      HlsKey k;
      const auto method = attributes.find("METHOD");
      k.method = method == attributes.end() ? "NONE" : method->second;
      if (const auto uri = attributes.find("URI"); uri != attributes.end() && k.method != "NONE")
        k.uri = resolve_address(address, uri->second);
      k.attributes = std::string(value);
      if (k.method == "NONE") {
        key = -1;
      } else {
        playlist.keys.push_back(std::move(k));
        key = static_cast<int>(playlist.keys.size()) - 1;
      }
    } else if (tag == "#EXT-X-MAP") {
      const auto attributes = parse_attributes(value);
      const auto uri = attributes.find("URI");
      if (uri == attributes.end()) continue;
      HlsMap m;
      m.uri = resolve_address(address, uri->second);
      if (const auto r = attributes.find("BYTERANGE"); r != attributes.end()) {
        m.range = parse_range(r->second, 0);
        if (!m.range) continue;
      }
      playlist.maps.push_back(std::move(m));
      map = static_cast<int>(playlist.maps.size()) - 1;
    } else if (tag == "#EXT-X-STREAM-INF") {
      playlist.kind = HlsPlaylist::Kind::Master;
      const auto attributes = parse_attributes(value);
      const auto bandwidth = attributes.find("BANDWIDTH");
      variant_bandwidth = bandwidth == attributes.end() ? 0 : parse_number(bandwidth->second).value_or(0);
    }
  }
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
