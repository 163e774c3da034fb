#include "capture/request_rules.h"

#include <algorithm>
#include <cstring>

#include "app/text_util.h"
#include "app/web_address.h"
#include "capture/json_document.h"

namespace qz::capture {

namespace {

constexpr std::string_view kLivePlay = "liveplay";
constexpr std::string_view kFullWidthSpace = "\xE3\x80\x80";  // U+3000

std::string_view host_part(std::string_view live_host) {
  for (std::string_view scheme : {"https://", "http://"})
    if (live_host.substr(0, scheme.size()) == scheme) return live_host.substr(scheme.size());
  return live_host;
}

}  // namespace

RequestExaminer::Search::Search(std::string needle) : needle_(std::move(needle)) {
  if (needle_.size() > 65535) needle_.clear();  // never a real marker; matches nothing
  const std::size_t m = needle_.size();
  if (m < 2) return;
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(needle_[i]); };
  for (std::size_t j = 1; j + 1 < m; ++j) ends_at_[pair(at(j - 1), at(j))] = static_cast<std::uint16_t>(j);
  // After a failed comparison at the last pair, the step the same hash allows elsewhere.
  const std::size_t last = pair(at(m - 2), at(m - 1));
  after_match_ = m - 1 - ends_at_[last];
  ends_at_[last] = static_cast<std::uint16_t>(m - 1);
}

bool RequestExaminer::Search::found_in(std::string_view text) const {
  const std::size_t m = needle_.size();
  if (m == 0 || text.size() < m) return false;
  if (m == 1) return std::memchr(text.data(), needle_[0], text.size()) != nullptr;
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t m1 = m - 1;
  // `e` is the text position under the needle's last byte. A text pair ending at e that ends at
  // needle position j lets the needle move m1 - j; a pair it does not hold, the whole m1.
  for (std::size_t e = m1; e < text.size();) {
    const std::size_t j = ends_at_[pair(data[e - 1], data[e])];
    if (j == 0) {
      e += m1;
    } else if (j < m1) {
      e += m1 - j;
    } else {
      if (std::memcmp(data + e - m1, needle_.data(), m) == 0) return true;
      e += after_match_;
    }
  }
  return false;
}

RequestExaminer::RequestExaminer(std::string marker) : liveplay_(std::string(kLivePlay)), marker_(std::move(marker)) {}

RequestOutcome RequestExaminer::examine(std::string_view event_text) const {
  RequestOutcome outcome;
  if (const std::size_t nul = event_text.find('\0'); nul != std::string_view::npos)
    event_text = event_text.substr(0, nul);
  // Only the rare "liveplay" request is worth parsing.
  std::string body;
  std::string_view working = event_text;
  if (liveplay_.found_in(event_text)) {
    JsonDocument document;
    document.load(event_text);
    body = document.get_text("//params.request.postData");
    working = body;
    document.load(body);
    std::string address = document.get_text("//mutipleKvList[1].fields.src");
    if (!blank_only(address)) outcome.live_address = std::move(address);
  }
  outcome.dashboard = marker_.found_in(working);
  return outcome;
}

RequestOutcome examine_request(std::string_view event_text, std::string_view marker) {
  return RequestExaminer(std::string(marker)).examine(event_text);
}

bool blank_only(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
    } else if (text.substr(i, kFullWidthSpace.size()) == kFullWidthSpace) {
      i += kFullWidthSpace.size();
    } else {
      return false;
    }
  }
  return true;
}

std::string live_site_base(std::string_view live_host) {
  if (host_part(live_host).size() != live_host.size()) return std::string(live_host);
  return "https://" + std::string(live_host);
}

std::string dashboard_marker(std::string_view live_host) {
  return std::string(host_part(live_host)) + "/dashboard";
}

std::string list_page_address(std::string_view live_host) { return live_site_base(live_host) + "/list"; }

std::string statistics_address(std::string_view page_address) {
  return app::replace_all(page_address, "dashboard?", "sprite/obs/statistic/finish?");
}

bool on_replay_cdn(std::string_view address, std::string_view cdn_base) {
  const auto cdn = app::parse_web_address(cdn_base);
  const auto a = app::parse_web_address(address);
  if (!cdn || !a || a->user_info || a->scheme != cdn->scheme || a->host != cdn->host || a->port != cdn->port)
    return false;
  // Under the base's own path, if it has one: "/cdn" holds "/cdn/x", not "/cdnx".
  const std::string_view base_path = cdn->rest;
  const std::string_view path = a->rest;
  if (path.substr(0, base_path.size()) != base_path) return false;
  return (!base_path.empty() && base_path.back() == '/') || (path.size() > base_path.size() && path[base_path.size()] == '/');
}

std::string first_replay_playlist(std::string_view body, std::string_view cdn_base) {
  if (cdn_base.empty()) return {};
  // A page writes this body, so the base's text may begin a lookalike address (another host that
  // starts with the same letters, or the base as a user name before "@"): each place where the
  // base stands counts only when the whole address is on the CDN. The places may be millions in
  // a hostile body, so each is looked at once: the ".m3u8" and the first byte no address holds
  // (a blank, a control byte, a quote that ends the JSON text, a backslash) found after one place
  // stay the ones after the next until it passes them.
  const auto no_address_byte = [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F || c == '"' || c == '\\';
  };
  const bool base_ends_path = cdn_base.back() == '/';
  std::size_t end = 0, stray = 0;
  for (std::size_t base = body.find(cdn_base); base != std::string_view::npos; base = body.find(cdn_base, base + 1)) {
    const std::size_t from = base + cdn_base.size();
    if (end < from) end = body.find(".m3u8", from);
    if (end == std::string_view::npos) return {};
    if (end == from || end - base > app::kMaxWebAddressBytes) continue;
    if (!base_ends_path && body[from] != '/') continue;  // ".evil.example", "@evil.example", ":8443"
    if (stray < from) {
      stray = from;
      while (stray < body.size() && !no_address_byte(body[stray])) ++stray;
    }
    if (stray < end) continue;
    std::string address = std::string(cdn_base) + std::string(body.substr(from, end - from)) + ".m3u8";
    if (on_replay_cdn(address, cdn_base)) return address;
  }
  return {};
}

}  // namespace qz::capture
