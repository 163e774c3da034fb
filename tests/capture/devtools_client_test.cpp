// The debugging client's event queue against a scripted connection: a flood of events while the
// event thread is busy is cut at the bound with a line, and the reader never stops for it; a
// handler that closes its own client is waited for before the client goes.
#include "capture/devtools_client.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace qz::capture {
namespace {

class ScriptedChannel final : public platform::MessageChannel {
 public:
  bool send(std::string) override { return true; }
  bool is_open() const override { return true; }
  void close() override {}
};

struct EventQueueFixture : ::testing::Test {
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t delivered = 0;
  bool held = true;  // the first event holds the event thread until released
  std::vector<std::string> problems;
  platform::MessageHandlers reader;  // what the connection's reader thread would call
  std::unique_ptr<DevToolsClient> client;

  void SetUp() override {
    DevToolsClient::Handlers handlers;
    handlers.on_event = [this](DevToolsEvent&) {
      std::unique_lock lock(mutex);
      ++delivered;
      changed.notify_all();
      changed.wait(lock, [&] { return !held; });
    };
    handlers.on_problem = [this](const std::string& line) {
      std::lock_guard lock(mutex);
      problems.push_back(line);
    };
    std::string error;
    client = DevToolsClient::open(
        [this](platform::MessageHandlers h, std::string*) {
          reader = std::move(h);
          return std::make_unique<ScriptedChannel>();
        },
        std::move(handlers), &error);
    ASSERT_TRUE(client) << error;
  }
  void TearDown() override {
    release();
    client.reset();
  }
  void release() {
    std::lock_guard lock(mutex);
    held = false;
    changed.notify_all();
  }
  void wait_delivered(std::size_t n) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return delivered >= n; });
  }
  std::vector<std::string> problem_lines() {
    std::lock_guard lock(mutex);
    return problems;
  }
  static std::string event(std::size_t padding) {
    return R"({"method":"Network.requestWillBeSent","params":{"pad":")" + std::string(padding, 'a') + "\"}}";
  }
};

TEST_F(EventQueueFixture, EventsPastTheBoundAreDroppedWithALineAndTheQueueTakesMoreOnceItHasRoom) {
  struct Case {
    const char* bound;
    std::size_t padding;
  };
  const std::size_t big = (1u << 20) - event(0).size();  // events of exactly 1 MiB
  for (const Case c : {Case{"count", 10}, Case{"bytes", big}}) {
    SCOPED_TRACE(c.bound);
    const std::string text = event(c.padding);
    const std::size_t fits = std::min(kMaxQueuedEvents, kMaxQueuedEventBytes / text.size());
    {
      std::lock_guard lock(mutex);
      held = true;
      delivered = 0;
      problems.clear();
    }
    reader.on_message(text);  // taken by the event thread, which then waits
    wait_delivered(1);
    for (std::size_t i = 0; i < fits + 3; ++i) reader.on_message(text);  // each returns at once
    ASSERT_EQ(problem_lines().size(), 1u);
    EXPECT_EQ(problem_lines()[0].rfind("browser event dropped, the event queue is full", 0), 0u) << problem_lines()[0];
    release();
    wait_delivered(1 + fits);
    reader.on_message(text);
    wait_delivered(2 + fits);
    ASSERT_EQ(problem_lines().size(), 2u);
    EXPECT_EQ(problem_lines()[1], "3 browser events were dropped while the event queue was full");
    std::lock_guard lock(mutex);
    EXPECT_EQ(delivered, 2 + fits);
  }
}

// close() on the event thread cannot wait for the thread it runs on; the client's end must, or
// the handler goes on inside a freed client.
TEST(DevToolsClientClosing, AHandlerThatClosesItsOwnClientIsWaitedForWhenTheClientGoes) {
  std::mutex mutex;
  std::condition_variable changed;
  bool closed = false, go_on = false, ended_inside_client = false;
  DevToolsClient* self = nullptr;
  platform::MessageHandlers reader;
  DevToolsClient::Handlers handlers;
  handlers.on_event = [&](DevToolsEvent&) {
    self->close();
    std::unique_lock lock(mutex);
    closed = true;
    changed.notify_all();
    changed.wait(lock, [&] { return go_on; });
    ended_inside_client = !self->connected();  // the client must still be there to ask
  };
  std::string error;
  auto client = DevToolsClient::open(
      [&](platform::MessageHandlers h, std::string*) {
        reader = std::move(h);
        return std::make_unique<ScriptedChannel>();
      },
      std::move(handlers), &error);
  ASSERT_TRUE(client) << error;
  self = client.get();
  reader.on_message(R"({"method":"Page.loadEventFired","params":{}})");
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return closed; });
    go_on = true;
    changed.notify_all();
  }
  client.reset();
  std::lock_guard lock(mutex);
  EXPECT_TRUE(ended_inside_client);
}

}  // namespace
}  // namespace qz::capture
