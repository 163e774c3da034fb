// How fast the request handler passes over the events it sees, against the plainest possible
// test: one glibc memmem scan for "liveplay" over the same bytes. A page sends hundreds of
// requests; the handler runs for each, so its non-matching path should cost little more than that
// scan (target: within 2x). Prints one line per kind of event with the ratio.
#include <string.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "capture/stream_capture.h"
#include "support/temp_folder.h"
#include "ui/headless/headless_desktop.h"

namespace {

using Clock = std::chrono::steady_clock;

class NoPages final : public qz::capture::PageOperations {
 public:
  std::string form_get_page_url(qz::capture::PageHandle) override { return {}; }
  std::string form_ajax_lacal(qz::capture::PageHandle, const std::string&) override { return {}; }
};

// A request event shaped like the browser's: headers, initiator, timing fields.
std::string make_event(const std::string& url, const std::string& post_data) {
  nlohmann::json headers = {
      {"Accept", "*/*"},
      {"Referer", "https://live.platform.test/room/123456?share=abcdef&from=app"},
      {"User-Agent",
       "Mozilla/5.0 (Linux; U; Android 11; zh-cn; MI CC9 Pro Premium Edition Build/RKQ1.200826.002) AppleWebKit/537.36 "
       "(KHTML, like Gecko) Version/4.0 Chrome/79.0.3945.147 Mobile Safari/537.36 XiaoMi/MiuiBrowser/14.1.18"},
      {"sec-ch-ua-platform", "\"Android\""}};
  nlohmann::json request = {{"url", url}, {"method", post_data.empty() ? "GET" : "POST"}, {"headers", headers},
                            {"mixedContentType", "none"}, {"initialPriority", "High"},
                            {"referrerPolicy", "strict-origin-when-cross-origin"}};
  if (!post_data.empty()) {
    request["postData"] = post_data;
    request["hasPostData"] = true;
  }
  nlohmann::json params = {
      {"requestId", "1234.56"}, {"loaderId", "8F2C9A0D6B1E4F7A9C3D5E7F1A2B4C6D"},
      {"documentURL", "https://live.platform.test/room/123456?share=abcdef&from=app"}, {"request", request},
      {"timestamp", 123456.789}, {"wallTime", 1700000000.123}, {"initiator", {{"type", "script"}}},
      {"redirectHasExtraInfo", false}, {"type", "Fetch"}, {"frameId", "5A1B2C3D4E5F60718293A4B5C6D7E8F9"},
      {"hasUserGesture", false}};
  return nlohmann::json{{"method", "Network.requestWillBeSent"}, {"params", params}, {"sessionId", "ABCDEF0123456789"}}
      .dump();
}

template <class F>
double best_ns_per_event(const std::vector<std::string>& events, F&& each) {
  double best = 1e300;
  for (int round = 0; round < 7; ++round) {
    std::vector<std::string> copies = events;
    const auto start = Clock::now();
    for (std::string& e : copies) each(e);
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    best = std::min(best, ns / static_cast<double>(events.size()));
  }
  return best;
}

}  // namespace

int main() {
  qz::test::TempFolder folder;
  qz::app::WindowModel window;
  qz::ui::HeadlessDesktop desktop;
  qz::app::Context ctx{window, desktop, folder.str(), {}, {}};
  ctx.config.live_host = "live.platform.test";
  NoPages pages;
  qz::capture::CaptureState state;
  qz::capture::StreamCapture capture(ctx, pages, state);

  const std::string body = nlohmann::json{{"mutipleKvList", {{{"fields", {{"src", "https://pull.example/live/1.flv"}}}}}},
                                          {"roomId", "123456"}}.dump();
  struct Kind {
    const char* name;
    std::string event;
  } kinds[] = {
      {"non-matching", make_event("https://cdn.platform.test/static/js/app.3f9a2c.js", "")},
      {"matching (liveplay)", make_event("https://live.platform.test/api/liveplay/getStream?room=123456", body)},
  };
  volatile std::size_t sink = 0;
  std::printf("request handler vs glibc memmem(\"liveplay\") over the same event bytes\n");
  for (const Kind& kind : kinds) {
    const std::vector<std::string> events(20000, kind.event);
    const double scan = best_ns_per_event(events, [&](std::string& e) {
      sink = sink + (memmem(e.data(), e.size(), "liveplay", 8) != nullptr);
    });
    const double handler = best_ns_per_event(events, [&](std::string& e) { capture.handle_request(1, e); });
    std::printf("%-22s %5zu bytes  memmem %8.1f ns  handler %9.1f ns  ratio %6.2fx\n", kind.name,
                kind.event.size(), scan, handler, handler / scan);
  }
  return 0;
}
