#include "capture/request_rules.h"

#include "app/text_util.h"
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

RequestOutcome examine_request(std::string_view event_text, std::string_view marker) {
  RequestOutcome outcome;
  if (const std::size_t nul = event_text.find('\0'); nul != std::string_view::npos)
    event_text = event_text.substr(0, nul);
  // The first test is a plain substring search: the handler sees every request of the page and
  // only the rare "liveplay" one is worth parsing.
  std::string body;
  std::string_view working = event_text;
  if (event_text.find(kLivePlay) != std::string_view::npos) {
    JsonDocument document;
    document.load(event_text);
    body = document.get_text("//params.request.postData");
    working = body;
    document.load(body);
    std::string address = document.get_text("//mutipleKvList[1].fields.src");
    if (!blank_only(address)) outcome.live_address = std::move(address);
  }
  outcome.dashboard = !marker.empty() && working.find(marker) != std::string_view::npos;
  return outcome;
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

std::string first_replay_playlist(std::string_view body, std::string_view cdn_base) {
  if (cdn_base.empty()) return {};
  const std::size_t base = body.find(cdn_base);
  if (base == std::string_view::npos) return {};
  const std::size_t from = base + cdn_base.size();
  const std::size_t end = body.find(".m3u8", from);
  if (end == std::string_view::npos || end == from) return {};
  return std::string(cdn_base) + std::string(body.substr(from, end - from)) + ".m3u8";
}

}  // namespace qz::capture
