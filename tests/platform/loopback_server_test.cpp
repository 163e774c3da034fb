// The loopback server that hands ffmpeg the replay: connections end cleanly, never pile up, and
// only requests addressed to the server itself are answered.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/loopback_server.h"
#include "platform/socket.h"

namespace qz::platform {
namespace {

using namespace std::chrono_literals;

// Sends `request` on a fresh connection and reads the answer until the server closes, or until
// its head and `body_bytes` more have come when `keep_open` (then the client closes first).
std::string exchange(int port, const std::string& request, bool keep_open = false, std::size_t body_bytes = 0) {
  const SocketHandle s = connect_to_loopback(port);
  if (s == kNoSocket) return "no connection";
  std::string answer;
  if (send_all(s, request.data(), request.size())) {
    char chunk[4096];
    const std::stop_source never;
    for (;;) {
      const std::size_t head_end = answer.find("\r\n\r\n");
      if (keep_open && head_end != std::string::npos && answer.size() >= head_end + 4 + body_bytes) break;
      if (!wait_readable(s, never.get_token())) break;
      const long n = receive_some(s, chunk, sizeof chunk);
      if (n <= 0) break;
      answer.append(chunk, static_cast<std::size_t>(n));
    }
  }
  close_socket(s);
  return answer;
}

std::string get(int port, const std::string& path, const std::string& host_line, bool close = true) {
  return "GET " + path + " HTTP/1.1\r\n" + host_line + (close ? "Connection: close\r\n" : "") + "\r\n";
}

std::string status_line(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

// Descriptors the process has open; nothing where the system does not list them. Under Wine
// "/proc/self/fd" would name the Linux folder of Wine's own process, whose descriptors are Wine's.
std::optional<std::size_t> open_descriptors() {
#ifdef _WIN32
  return std::nullopt;
#endif
  std::error_code error;
  std::filesystem::directory_iterator it("/proc/self/fd", error);
  if (error) return std::nullopt;
  std::size_t count = 0;
  for (; it != std::filesystem::directory_iterator(); it.increment(error)) ++count;
  return count;
}

LocalReply missing(const std::string&) { return LocalReply{404, "text/plain", "missing", ""}; }

TEST(LoopbackServer, FailedRequestsLeaveNoDescriptorsBehind) {
  LoopbackServer server;
  ASSERT_TRUE(server.start(missing));
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
  const auto before = open_descriptors();
  // Half the clients close first (as ffmpeg does after a failed segment), half let the server
  // close; every answer is a 404.
  for (int i = 0; i < 500; ++i) {
    const bool client_closes = i % 2 == 0;
    const std::string answer =
        exchange(server.port(), get(server.port(), "/seg" + std::to_string(i) + ".ts", host, !client_closes),
                 client_closes, 7);
    ASSERT_EQ(status_line(answer), "HTTP/1.1 404 Not Found") << i;
  }
  if (!before) GTEST_SKIP() << "the system does not list open descriptors";
  // A connection the client closed first is closed by its server thread as soon as it sees that.
  auto now = open_descriptors();
  for (const auto give_up = std::chrono::steady_clock::now() + 2min;
       now != before && std::chrono::steady_clock::now() < give_up; now = open_descriptors())
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(now, before);
}

TEST(LoopbackServer, OnlyItsOwnHostIsAnswered) {
  LoopbackServer server;
  ASSERT_TRUE(server.start([](const std::string& path) {
    return LocalReply{200, "application/vnd.apple.mpegurl", "#EXTM3U\n" + path, ""};
  }));
  const std::string port = std::to_string(server.port());
  const std::string other_port = std::to_string(server.port() == 65535 ? 1 : server.port() + 1);
  struct Case {
    std::string host_line;
    std::string status;
  };
  const Case cases[] = {
      {"Host: 127.0.0.1:" + port + "\r\n", "HTTP/1.1 200 OK"},
      {"host:   127.0.0.1:" + port + "  \r\n", "HTTP/1.1 200 OK"},
      {"Host: localhost:" + port + "\r\n", "HTTP/1.1 403 Forbidden"},
      {"Host: rebound.example:" + port + "\r\n", "HTTP/1.1 403 Forbidden"},
      {"Host: rebound.example\r\n", "HTTP/1.1 403 Forbidden"},
      {"Host: 127.0.0.1\r\n", "HTTP/1.1 403 Forbidden"},
      {"Host: 127.0.0.1:" + other_port + "\r\n", "HTTP/1.1 403 Forbidden"},
      {"Host: 127.0.0.1:" + port + ".rebound.example\r\n", "HTTP/1.1 403 Forbidden"},
      {"", "HTTP/1.1 403 Forbidden"},
  };
  const std::string playlist = "#EXTM3U\n/index.m3u8";
  for (const Case& c : cases) {
    // Without "Connection: close": a refused request ends its connection all the same, while an
    // answered one stays open for the next (so the client closes it once the body is in).
    const bool answered = c.status == "HTTP/1.1 200 OK";
    const std::string answer = exchange(server.port(), get(server.port(), "/index.m3u8", c.host_line, false),
                                        answered, playlist.size());
    EXPECT_EQ(status_line(answer), c.status) << c.host_line;
    EXPECT_EQ(answer.find(playlist) != std::string::npos, answered) << c.host_line;
  }
}

TEST(LoopbackServer, ConnectionsPastTheLimitWaitTheirTurn) {
  constexpr int kClients = 40, kLimit = 32;
  std::mutex mutex;
  std::condition_variable changed;
  int in_flight = 0, most = 0;
  bool released = false;
  LoopbackServer server;
  ASSERT_TRUE(server.start([&](const std::string&) {
    std::unique_lock lock(mutex);
    most = std::max(most, ++in_flight);
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
    --in_flight;
    return LocalReply{200, "text/plain", "ok", ""};
  }));
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
  std::vector<std::string> answers(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&, i] { answers[i] = exchange(server.port(), get(server.port(), "/", host)); });
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return in_flight == kLimit; });
    released = true;
  }
  changed.notify_all();
  for (auto& c : clients) c.join();
  EXPECT_EQ(most, kLimit);
  for (const std::string& answer : answers) EXPECT_EQ(status_line(answer), "HTTP/1.1 200 OK");
}

}  // namespace
}  // namespace qz::platform
