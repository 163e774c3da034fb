#pragma once
// What the capture handler decides from one request event, kept apart from threads and windows:
// the live stream address inside a "liveplay" request's POST body, whether the request mentions
// the live dashboard, and the replay addresses the dashboard leads to.
#include <array>
#include <cstdint>
#include <cstdint>
#include <string>
#include <string_view>

namespace qz::capture {

struct RequestOutcome {
  // The live stream address when the event is a "liveplay" request whose body carries one that
  // is not blanks only (spaces kept as they came).
  std::string live_address;
  // The working text mentions the dashboard: a replay worker is due.
  bool dashboard = false;
};

// `event_text` is the request event's JSON text (taken up to its first zero byte); `marker` is
// the dashboard marker (live-site host + "/dashboard").
RequestOutcome examine_request(std::string_view event_text, std::string_view marker);

// The same with its two searches prepared once: the handler runs for every request a page sends,
// so the test that rejects most of them is a skip-ahead substring search.
class RequestExaminer {
 public:
  explicit RequestExaminer(std::string marker);
  RequestOutcome examine(std::string_view event_text) const;

  // Horspool's search on pairs of bytes: the pair at the window's end says how far the needle can
  // move (byte pairs repeat far less than single letters in JSON text, so the steps are long).
  // Case-sensitive; an empty needle matches nothing.
  class Search {
   public:
    explicit Search(std::string needle);
    bool found_in(std::string_view text) const;

   private:
    static std::size_t pair(unsigned char a, unsigned char b) { return ((b - (a << 3)) & 255u); }
    std::string needle_;
    std::size_t after_match_ = 1;
    // For each pair hash, the last needle position where such a pair ends (0: none), so the
    // common case steps the whole needle length without waiting for the table.
    std::array<std::uint16_t, 256> ends_at_{};
  };

 private:
  Search liveplay_;
  Search marker_;
};

// True when nothing is left once every half-width and full-width (U+3000) space is removed.
bool blank_only(std::string_view text);

// The live-site host as configured may carry a scheme ("http://127.0.0.1:8080"); without one the
// site is https. The host part names the dashboard marker; scheme + host is the site's base.
std::string live_site_base(std::string_view live_host);
std::string dashboard_marker(std::string_view live_host);
std::string list_page_address(std::string_view live_host);

// The page address with every "dashboard?" turned into "sprite/obs/statistic/finish?".
std::string statistics_address(std::string_view page_address);

// The first `cdn_base` in `body` and the first ".m3u8" after it: cdn_base + between + ".m3u8",
// or "" when either is missing or nothing lies between. Only an address on the CDN counts: one
// that is not (see on_replay_cdn) is passed over for the next place the base stands.
std::string first_replay_playlist(std::string_view body, std::string_view cdn_base);

// True when `address` is on the replay CDN `cdn_base`: the same scheme, host and port exactly (no
// subdomain, no other port), no user name before the host, and a path under the base's own.
bool on_replay_cdn(std::string_view address, std::string_view cdn_base);

}  // namespace qz::capture
