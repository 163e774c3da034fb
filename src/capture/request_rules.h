#pragma once
// What the capture handler decides from one request event, kept apart from threads and windows:
// the live stream address inside a "liveplay" request's POST body, whether the request mentions
// the live dashboard, and the replay addresses the dashboard leads to.
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
// or "" when either is missing or nothing lies between.
std::string first_replay_playlist(std::string_view body, std::string_view cdn_base);

}  // namespace qz::capture
