// The capture handler and its replay workers against a scripted page, so the worker rules can be
// shown in milliseconds (the end-to-end tests show the same with a real browser).
#include "capture/stream_capture.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/temp_folder.h"
#include "ui/headless/headless_desktop.h"

namespace qz::capture {
namespace {

using namespace std::chrono_literals;

class ScriptedPages final : public PageOperations {
 public:
  std::string form_get_page_url(PageHandle page) override {
    std::lock_guard lock(mutex_);
    ++url_reads_;
    last_page_ = page;
    return url_;
  }
  std::string form_ajax_lacal(PageHandle page, const std::string& address) override {
    std::lock_guard lock(mutex_);
    last_page_ = page;
    asked_.push_back(address);
    return body_;
  }
  void set_url(std::string url) {
    std::lock_guard lock(mutex_);
    url_ = std::move(url);
  }
  void set_body(std::string body) {
    std::lock_guard lock(mutex_);
    body_ = std::move(body);
  }
  int url_reads() const {
    std::lock_guard lock(mutex_);
    return url_reads_;
  }
  std::vector<std::string> asked() const {
    std::lock_guard lock(mutex_);
    return asked_;
  }
  PageHandle last_page() const {
    std::lock_guard lock(mutex_);
    return last_page_;
  }

 private:
  mutable std::mutex mutex_;
  std::string url_, body_;
  int url_reads_ = 0;
  PageHandle last_page_ = 0;
  std::vector<std::string> asked_;
};

struct StreamCaptureFixture : ::testing::Test {
  test::TempFolder folder;
  app::WindowModel window;
  ui::HeadlessDesktop desktop;
  app::Context ctx{window, desktop, folder.str(), {}, {}};
  ScriptedPages pages;
  CaptureState state;

  StreamCaptureFixture() {
    ctx.config.live_host = "live.platform.test";
    ctx.config.replay_cdn = "https://replay.cdn.test";
  }

  static std::string request(const std::string& url, const std::string& post_data = "") {
    nlohmann::json r = {{"url", url}, {"method", post_data.empty() ? "GET" : "POST"}};
    if (!post_data.empty()) r["postData"] = post_data;
    return nlohmann::json{{"method", "Network.requestWillBeSent"}, {"params", {{"request", r}}}}.dump();
  }
};

TEST_F(StreamCaptureFixture, LiveplayRequestFillsTheLiveBoxAndBlankOnesLeaveIt) {
  StreamCapture capture(ctx, pages, state, 20ms);
  const auto body = [](const std::string& src) {
    return nlohmann::json{{"mutipleKvList", {{{"fields", {{"src", src}}}}}}}.dump();
  };
  capture.handle_request(1, request("https://live.platform.test/api/liveplay", body("https://pull/1.flv")));
  EXPECT_EQ(window.text("编辑框_直播url"), "https://pull/1.flv");
  capture.handle_request(1, request("https://live.platform.test/api/liveplay", body(" \xE3\x80\x80")));
  EXPECT_EQ(window.text("编辑框_直播url"), "https://pull/1.flv");
  capture.handle_request(2, request("https://live.platform.test/api/liveplay", body("https://pull/2.flv")));
  EXPECT_EQ(window.text("编辑框_直播url"), "https://pull/2.flv");  // the last match wins
  EXPECT_EQ(capture.started_workers(), 0);
}

TEST_F(StreamCaptureFixture, AtMostOneWaitingWorkerPerPageThenOneStatisticsRequest) {
  StreamCapture capture(ctx, pages, state, 20ms);
  state.current_page = 5;
  pages.set_url("https://live.platform.test/dashboard?tab=overview");
  pages.set_body(R"({"r":["https://replay.cdn.test/a/first.m3u8","https://replay.cdn.test/b/second.m3u8"]})");
  // A dashboard page's pictures, scripts and polls all match.
  for (int i = 0; i < 50; ++i)
    capture.handle_request(5, request("https://live.platform.test/dashboard/poll?n=" + std::to_string(i)));
  EXPECT_EQ(capture.started_workers(), 1);
  EXPECT_EQ(capture.waiting_workers(), 1);
  // Another page gets a worker of its own.
  capture.handle_request(6, request("https://live.platform.test/dashboard?tab=2"));
  EXPECT_EQ(capture.started_workers(), 2);
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return pages.url_reads() >= 6; }, 5s));  // it polls
  EXPECT_TRUE(pages.asked().empty());

  pages.set_url("https://live.platform.test/dashboard?tab=overview&showId=77");
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return capture.waiting_workers() == 0; }, 5s));
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return pages.asked().size() == 2; }, 5s));
  EXPECT_EQ(pages.asked()[0], "https://live.platform.test/sprite/obs/statistic/finish?tab=overview&showId=77");
  EXPECT_EQ(pages.last_page(), 5);  // the current page, not the page that matched
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until(
      [&] { return window.text("编辑框_回放url") == "https://replay.cdn.test/a/first.m3u8"; }, 5s));

  // Once no worker waits, a new matching request may start one again.
  capture.handle_request(5, request("https://live.platform.test/dashboard?showId=77"));
  EXPECT_EQ(capture.started_workers(), 3);
}

TEST_F(StreamCaptureFixture, BodyWithoutPlaylistLeavesTheReplayBox) {
  window.set_text("编辑框_回放url", "kept");
  StreamCapture capture(ctx, pages, state, 20ms);
  pages.set_url("https://live.platform.test/dashboard?showId=1");
  pages.set_body("{\"code\":403}");
  capture.handle_request(1, request("https://live.platform.test/dashboard?showId=1"));
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return pages.asked().size() == 1; }, 5s));
  capture.request_stop();
  capture.join();
  EXPECT_EQ(window.text("编辑框_回放url"), "kept");
}

TEST_F(StreamCaptureFixture, StopEndsAWorkerThatWouldWaitForever) {
  auto capture = std::make_unique<StreamCapture>(ctx, pages, state, 60s);
  pages.set_url("https://live.platform.test/dashboard?tab=1");
  capture->handle_request(1, request("https://live.platform.test/dashboard?tab=1"));
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return pages.url_reads() >= 1; }, 5s));
  const auto before = std::chrono::steady_clock::now();
  capture.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 20s);  // far from the minute's wait
  EXPECT_TRUE(pages.asked().empty());
}

// A newer page arrives just after the worker has read the current page's address: the statistics
// request goes to the page whose address held "showId=", not to the newer page.
TEST_F(StreamCaptureFixture, TheStatisticsRequestGoesToThePageWhoseAddressWasRead) {
  struct NewerPageArrives final : PageOperations {
    explicit NewerPageArrives(CaptureState& s) : state(s) {}
    std::string form_get_page_url(PageHandle page) override {
      state.current_page = page + 1;
      return page == 5 ? "https://live.platform.test/dashboard?showId=9" : "https://live.platform.test/other";
    }
    std::string form_ajax_lacal(PageHandle page, const std::string&) override {
      asked_page = page;
      return {};
    }
    CaptureState& state;
    std::atomic<PageHandle> asked_page{0};
  } pages_turning(state);
  StreamCapture capture(ctx, pages_turning, state, 20ms);
  state.current_page = 5;
  capture.handle_request(5, request("https://live.platform.test/dashboard?showId=9"));
  ASSERT_TRUE(ui::HeadlessDesktop::wait_until([&] { return pages_turning.asked_page != 0; }, 5s));
  EXPECT_EQ(pages_turning.asked_page, 5);
}

}  // namespace
}  // namespace qz::capture
