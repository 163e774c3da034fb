#include "capture/request_rules.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace qz::capture {
namespace {

const std::string kMarker = "live.platform.test/dashboard";

// A request event as the browser sends it, with the given address and POST body.
std::string event(const std::string& url, const std::string* post_data, const std::string& referer = "") {
  nlohmann::json request = {{"url", url}, {"method", post_data ? "POST" : "GET"}, {"headers", nlohmann::json::object()}};
  if (!referer.empty()) request["headers"]["Referer"] = referer;
  if (post_data) {
    request["postData"] = *post_data;
    request["hasPostData"] = true;
  }
  nlohmann::json message = {{"method", "Network.requestWillBeSent"},
                            {"params", {{"requestId", "1.1"}, {"documentURL", url}, {"request", request}}},
                            {"sessionId", "S"}};
  return message.dump();
}

std::string room_body(const std::string& src) {
  return nlohmann::json{{"mutipleKvList", {{{"fields", {{"src", src}}}}}}}.dump();
}

struct RuleCase {
  const char* name;
  std::string event_text;
  std::string live_address;
  bool dashboard;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class RequestRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(RequestRules, Examine) {
  const RequestOutcome outcome = examine_request(GetParam().event_text, kMarker);
  EXPECT_EQ(outcome.live_address, GetParam().live_address);
  EXPECT_EQ(outcome.dashboard, GetParam().dashboard);
}

const std::string kLiveUrl = "https://live.platform.test/api/liveplay/getStream";
const std::string kStream = "https://pull.example/live/1.flv?auth=x";
const std::string kBody = room_body(kStream);
const std::string kBlankBody = room_body("  \xE3\x80\x80 ");
const std::string kSpacedBody = room_body(" " + kStream + " ");
const std::string kTabBody = room_body("\t");
const std::string kNotJsonBody = "mutipleKvList=1&src=" + kStream;
// The player's body as JSON.stringify writes it when the room title was cut inside an emoji.
const std::string kCutEmojiBody = R"({"title":"\u76f4\u64ad\ud83d","mutipleKvList":[{"fields":{"src":")" + kStream + R"("}}]})";
const std::string kBodyWithMarker = nlohmann::json{{"mutipleKvList", {{{"fields", {{"src", kStream}}}}}},
                                                   {"from", "https://" + kMarker + "?showId=1"}}.dump();

INSTANTIATE_TEST_SUITE_P(
    Cases, RequestRules,
    ::testing::Values(
        RuleCase{"LiveplayBodyGivesTheAddress", event(kLiveUrl, &kBody), kStream, false},
        RuleCase{"SpacesAroundAreKept", event(kLiveUrl, &kSpacedBody), " " + kStream + " ", false},
        RuleCase{"HalfAndFullWidthBlanksOnly", event(kLiveUrl, &kBlankBody), "", false},
        RuleCase{"TabIsNotABlank", event(kLiveUrl, &kTabBody), "\t", false},
        RuleCase{"LoneSurrogateInTheTitle", event(kLiveUrl, &kCutEmojiBody), kStream, false},
        RuleCase{"BodyNotJson", event(kLiveUrl, &kNotJsonBody), "", false},
        RuleCase{"LiveplayWithoutBody", event(kLiveUrl, nullptr), "", false},
        RuleCase{"MarkerWordInCapitals", event("https://live.platform.test/api/LIVEPLAY", &kBody), "", false},
        RuleCase{"EventNotJson", "liveplay {{{ " + kMarker, "", false},
        RuleCase{"DashboardRequest", event("https://" + kMarker + "?showId=9", nullptr), "", true},
        RuleCase{"DashboardInReferer", event("https://cdn.example/a.js", nullptr, "https://" + kMarker + "?x=1"), "",
                 true},
        RuleCase{"DashboardInCapitals", event("https://live.platform.test/DASHBOARD?showId=9", nullptr), "", false},
        // Both markers in the event: the dashboard counts only when the POST body holds it too.
        RuleCase{"BothMarkersBodyWithout", event(kLiveUrl, &kBody, "https://" + kMarker + "?showId=1"), kStream,
                 false},
        RuleCase{"BothMarkersBodyWith", event(kLiveUrl, &kBodyWithMarker, "https://" + kMarker), kStream, true},
        RuleCase{"OtherRequest", event("https://live.platform.test/static/app.js", nullptr), "", false},
        RuleCase{"TextAfterZeroByteIsIgnored", std::string("{}\0", 3) + "liveplay " + kMarker, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RequestRules, SearchFindsWhatFindFinds) {
  const std::string needles[] = {"liveplay", "live.platform.test/dashboard", "ab", "aab", "x", "yyyy"};
  const std::string texts[] = {
      "", "liveplay", "xliveplay", "liveplayx", "livepla", "iveplay", "lliveplay", "livepliveplay",
      "live.platform.test/room?x=1 live.platform.test/dashboar", "a live.platform.test/dashboard?showId=1",
      "aaaaaaaaab", "abababab", "aaab", "ba", "yyyyyy", "yyy", std::string("live\0play"), "LIVEPLAY"};
  for (const std::string& needle : needles) {
    const RequestExaminer::Search search(needle);
    for (const std::string& text : texts)
      EXPECT_EQ(search.found_in(text), text.find(needle) != std::string::npos) << needle << " in " << text;
  }
  EXPECT_FALSE(RequestExaminer::Search("").found_in("anything"));
}

TEST(RequestRules, StatisticsAddressReplacesTheDashboardPathOnly) {
  EXPECT_EQ(statistics_address("https://live.platform.test/dashboard?showId=77&tab=1"),
            "https://live.platform.test/sprite/obs/statistic/finish?showId=77&tab=1");
  EXPECT_EQ(statistics_address("https://h/dashboard?a=dashboard?b&showId=1"),
            "https://h/sprite/obs/statistic/finish?a=sprite/obs/statistic/finish?b&showId=1");
  EXPECT_EQ(statistics_address("https://h/dashboard/x?showId=1"), "https://h/dashboard/x?showId=1");
}

TEST(RequestRules, FirstReplayPlaylist) {
  const std::string cdn = "https://replay.cdn.test";
  struct Case {
    std::string body, expected;
  } cases[] = {
      {R"({"a":")" + cdn + R"(/r/1/first.m3u8","b":")" + cdn + R"(/r/1/second.m3u8"})", cdn + "/r/1/first.m3u8"},
      {"no address here", ""},
      {cdn + "/r/1/index.mp4", ""},          // no playlist after the base
      {cdn + ".m3u8", ""},                    // nothing between
      {"x.m3u8 " + cdn + "/a.m3u8", cdn + "/a.m3u8"},  // a playlist before the base does not count
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(first_replay_playlist(c.body, cdn), c.expected) << c.body;
  EXPECT_EQ(first_replay_playlist(cases[0].body, ""), "");
}

// A page writes the statistics body: an address that only starts with the CDN base's letters is
// on another host (or hands the base over as a user name), and is passed over.
TEST(RequestRules, ReplayPlaylistOnlyOnTheCdnItself) {
  const std::string cdn = "https://replay.platform.invalid";
  const std::string lookalikes[] = {
      cdn + ".evil.example/r/index.m3u8",
      cdn + "@evil.example/r/index.m3u8",
      cdn + ":x@evil.example/r/index.m3u8",
      cdn + "%2F@evil.example/r/index.m3u8",
      cdn + ":8443/r/index.m3u8",
      cdn + ":443@evil.example/r/index.m3u8",
      cdn + "./r/index.m3u8",
      cdn + "-evil.example/r/index.m3u8",
      cdn + "\\@evil.example/r/index.m3u8",
      cdn + "?.evil.example/index.m3u8",
      cdn + "/r/a b.m3u8",
      cdn + "/r/index.mp4\",\"x\":\"y.m3u8",  // runs over into another JSON text
  };
  for (const std::string& address : lookalikes) {
    EXPECT_EQ(first_replay_playlist("{\"u\":\"" + address + "\"}", cdn), "") << address;
    // A genuine address after the lookalike is still found.
    EXPECT_EQ(first_replay_playlist(address + " " + cdn + "/r/1/index.m3u8", cdn), cdn + "/r/1/index.m3u8") << address;
  }
  EXPECT_EQ(first_replay_playlist(cdn + "/r/1/index.m3u8?token=a%2Fb", cdn), cdn + "/r/1/index.m3u8");
  EXPECT_TRUE(on_replay_cdn(cdn + "/r/1/index.m3u8", cdn));
  EXPECT_TRUE(on_replay_cdn("HTTPS://Replay.Platform.Invalid:443/r/index.m3u8", cdn));  // the same place, spelled otherwise
  EXPECT_FALSE(on_replay_cdn("http://replay.platform.invalid/r/index.m3u8", cdn));
  EXPECT_FALSE(on_replay_cdn("https://sub.replay.platform.invalid/r/index.m3u8", cdn));
  // A base with a path of its own (a test CDN) holds only what lies under that path.
  EXPECT_TRUE(on_replay_cdn("http://127.0.0.1:8080/cdn/r/x.m3u8", "http://127.0.0.1:8080/cdn"));
  EXPECT_FALSE(on_replay_cdn("http://127.0.0.1:8080/cdnx/r/x.m3u8", "http://127.0.0.1:8080/cdn"));
  EXPECT_FALSE(on_replay_cdn("http://127.0.0.1:8081/cdn/r/x.m3u8", "http://127.0.0.1:8080/cdn"));
  // Many places where the base stands, none genuine, are looked at once each.
  std::string crowd;
  for (int i = 0; i < 200000; ++i) crowd += cdn + ".evil";
  EXPECT_EQ(first_replay_playlist(crowd + "/x.m3u8", cdn), "");
}

TEST(RequestRules, LiveHostWithOrWithoutScheme) {
  EXPECT_EQ(dashboard_marker("live.platform.test"), "live.platform.test/dashboard");
  EXPECT_EQ(list_page_address("live.platform.test"), "https://live.platform.test/list");
  EXPECT_EQ(dashboard_marker("http://127.0.0.1:8080"), "127.0.0.1:8080/dashboard");
  EXPECT_EQ(list_page_address("http://127.0.0.1:8080"), "http://127.0.0.1:8080/list");
}

}  // namespace
}  // namespace qz::capture
