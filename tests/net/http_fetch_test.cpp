#include "net/http_fetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "fixtures/http_server.h"
#include "fixtures/tls_front/tls_front.h"
#include "platform/socket.h"
#include "platform/tls_trust.h"
#include "platform/verified_get.h"
#include "net/http_message.h"
#include "platform/text_codec.h"

#ifdef _WIN32
#include <functional>
#include <future>

#include "platform/win32/watched_exchange.h"
#endif

namespace qz::net {
namespace {

using test::HttpRequest;
using test::HttpResponse;
using test::HttpServer;

const char kUtf8Page[] = "<html><head><META http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
                         "</head><body>直播下载</body></html>";

std::string gbk_page(const std::string& charset_meta) {
  return platform::utf8_to_gbk("<html><head>" + charset_meta + "</head><body>直播下载</body></html>");
}

HttpRequest last_request(const HttpServer& server) { return server.requests().back(); }

// Takes connections (the system completes them) and never reads or answers: a captive portal
// holding a TLS handshake. Closing it resets whatever still waits on it.
struct SilentServer {
  std::optional<platform::LoopbackListener> listener = platform::listen_on_loopback(16);
  ~SilentServer() {
    if (listener) platform::close_socket(listener->socket);
  }
  int port() const { return listener ? listener->port : 0; }
};

TEST(HttpMessage, SplitUrl) {
  struct Case {
    const char* url;
    bool ok;
    bool secure;
    const char* host;
    int port;
    const char* object;
  } cases[] = {
      {"http://example.test", true, false, "example.test", 80, "/"},
      {"http://example.test?x=1", true, false, "example.test", 80, "/"},  // no path: query dropped
      {"https://example.test:8443/a/b?c=d#frag", true, true, "example.test", 8443, "/a/b?c=d"},
      {"HTTP://127.0.0.1:81/", true, false, "127.0.0.1", 81, "/"},
      {"ftp://example.test/", false},
      {"http://", false},
      {"http://host:99999/", false},
      {"http://host:8x/", false},
      {"example.test/path", false},
  };
  for (const Case& c : cases) {
    const auto split = split_url(c.url);
    ASSERT_EQ(split.has_value(), c.ok) << c.url;
    if (!c.ok) continue;
    EXPECT_EQ(split->secure, c.secure) << c.url;
    EXPECT_EQ(split->host, c.host) << c.url;
    EXPECT_EQ(split->port, c.port) << c.url;
    EXPECT_EQ(split->object_path, c.object) << c.url;
  }
}

TEST(HttpMessage, MethodsAndTimeouts) {
  EXPECT_EQ(method_name(0), "GET");
  EXPECT_EQ(method_name(1), "POST");
  EXPECT_EQ(method_name(7), "CONNECT");
  EXPECT_EQ(method_name(9), "GET");
  EXPECT_EQ(method_name(-1), "GET");
  EXPECT_EQ(timeout_ms(5), 5000);
  EXPECT_EQ(timeout_ms(0), 30000);
  EXPECT_EQ(timeout_ms(-3), 30000);
}

TEST(HttpMessage, HeaderBlock) {
  const std::string ua = "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n";
  const std::string rest = "Accept: text/html, application/xhtml+xml, */*\r\nAccept-Encoding: gbk, GB2312\r\n"
                           "Accept-Language: zh-cn\r\n";
  struct Case {
    const char* name;
    HttpFetchRequest request;
    std::string block;
  } cases[] = {
      {"defaults for GET", {.url = "u"}, ua + rest + "Cache-Control: no-cache"},
      {"POST adds the form type", {.url = "u", .method = 1},
       ua + rest + "Content-Type: application/x-www-form-urlencoded\r\nCache-Control: no-cache"},
      {"lower-case user agent replaces the default and is capitalised",
       {.url = "u", .extra_headers = "user-agent: mine/1.0"}, "User-Agent: mine/1.0\r\n" + rest + "Cache-Control: no-cache"},
      {"keep-alive line removed",
       {.url = "u", .extra_headers = "Connection: keep-alive\r\nX-A: 1", .add_default_headers = false}, "X-A: 1"},
      {"close stays", {.url = "u", .extra_headers = "Connection: close\r\nX-A: 1", .add_default_headers = false},
       "Connection: close\r\nX-A: 1"},
      {"cookie line from pairs", {.url = "u", .cookies = "a=1; b=2", .add_default_headers = false},
       "\r\nCookie: a=1; b=2\r\n"},
      {"cookie line given whole", {.url = "u", .cookies = "cookie: z=9", .add_default_headers = false},
       "\r\ncookie: z=9\r\n"},
      {"caller's cookie line wins",
       {.url = "u", .cookies = "a=1", .extra_headers = "Cookie: mine=1", .add_default_headers = false}, "Cookie: mine=1"},
      {"names left alone, lines without colon kept",
       {.url = "u", .extra_headers = "x-lower: v\r\nnocolon", .add_default_headers = false,
        .normalize_header_names = false},
       "x-lower: v\r\nnocolon\r\n"},
      {"normalising drops lines without colon",
       {.url = "u", .extra_headers = "x-my-name: v\r\nnocolon", .add_default_headers = false}, "X-My-Name: v"},
  };
  for (const Case& c : cases) EXPECT_EQ(build_header_block(c.request), c.block) << c.name;
}

TEST(HttpMessage, CookieMerge) {
  struct Case {
    const char* old_cookies;
    const char* new_cookies;
    const char* merged;
  } cases[] = {
      {"a=1; b=2", "b=3; c=4", "b=3; c=4; a=1"},
      {"a=1; b=2", "a=deleted", "b=2"},
      {" a=1; ", "", "a=1"},
      {"a=1;", "b=2;", "b=2; a=1"},
      {"a=1; a=1", "b=2; b=2", "b=2; a=1"},
      {"flag; a=1", "flag", "flag; a=1"},
      {"", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(merge_cookie_text(c.old_cookies, c.new_cookies), c.merged) << c.old_cookies;
}

TEST(HttpMessage, ResponseHeadersAndCharset) {
  std::string cookies = "pre=0; ";
  std::string location;
  read_response_headers(
      "HTTP/1.1 302 Found\r\nSet-Cookie: b=3; Path=/\r\nSet-Cookie: c=4\r\nLOCATION: /one\r\nlocation: /two\r\n\r\n",
      cookies, location);
  EXPECT_EQ(cookies, "pre=0; b=3; c=4; ");
  EXPECT_EQ(location, "/two");
  EXPECT_EQ(status_text("HTTP/1.1 404 Not Found\r\nX: y\r\n"), "404 Not Found");

  EXPECT_EQ(declared_charset(kUtf8Page), "utf-8");
  EXPECT_EQ(declared_charset("<meta charset='GB2312'>"), "GB2312");
  EXPECT_EQ(declared_charset("<html>no meta</html>"), "");
  EXPECT_EQ(declared_charset(std::string(1100, ' ') + "<meta charset=utf-8>"), "");  // only the first 1024 bytes
  EXPECT_EQ(decode_body(std::string("ab\0cd", 5)), "ab");
}

// The same table runs through the real transport: libcurl here, WinHTTP in the Windows build.
class HttpFetchTest : public ::testing::Test {
 protected:
  HttpServer server;
};

TEST_F(HttpFetchTest, ObjectPathAndMethods) {
  server.route_prefix("/", [](const HttpRequest&) { return HttpResponse{200, {}, "ok"}; });
  struct Case {
    std::string url;
    int method;
    std::string target, verb;
    bool form_type;
  } cases[] = {
      {server.base_url(), 0, "/", "GET", false},
      {server.base_url() + "?dropped=1", 0, "/", "GET", false},
      {server.base_url() + "/p/q?a=1&b=2", 0, "/p/q?a=1&b=2", "GET", false},
      {server.base_url() + "/post", 1, "/post", "POST", true},
      {server.base_url() + "/nine", 9, "/nine", "GET", false},
  };
  for (const Case& c : cases) {
    const HttpFetchResponse r = HttpFetch({.url = c.url, .method = c.method});
    EXPECT_EQ(r.status, "200 OK") << c.url;
    EXPECT_EQ(r.text, "ok") << c.url;
    const HttpRequest seen = last_request(server);
    EXPECT_EQ(seen.target, c.target) << c.url;
    EXPECT_EQ(seen.method, c.verb) << c.url;
    EXPECT_EQ(seen.header("Content-Type") == "application/x-www-form-urlencoded", c.form_type) << c.url;
    EXPECT_EQ(seen.header("Accept-Language"), "zh-cn");
  }
}

TEST_F(HttpFetchTest, HeadersAsSent) {
  server.route("/h", [](const HttpRequest&) { return HttpResponse{200, {}, "h"}; });
  HttpFetch({.url = server.base_url() + "/h", .extra_headers = "user-agent: mine/1.0\r\nx-token: abc"});
  HttpRequest seen = last_request(server);
  int agents = 0;
  for (const auto& [name, value] : seen.headers)
    if (name == "User-Agent") {
      ++agents;
      EXPECT_EQ(value, "mine/1.0");
    }
  EXPECT_EQ(agents, 1);
  EXPECT_EQ(seen.header("X-Token"), "abc");
  bool capitalised = false;
  for (const auto& [name, value] : seen.headers) capitalised = capitalised || name == "X-Token";
  EXPECT_TRUE(capitalised);

  HttpFetch({.url = server.base_url() + "/h", .body_text = "名=值", .extra_headers = "Connection: keep-alive\r\nX-After: 1"});
  seen = last_request(server);
  EXPECT_EQ(seen.header("X-After"), "1");
  EXPECT_EQ(seen.body, platform::utf8_to_gbk("名=值"));  // the body goes out as GBK

  HttpFetch({.url = server.base_url() + "/h", .method = 3, .body_text = "text", .body_bytes = std::string("\0\1", 2)});
  seen = last_request(server);
  EXPECT_EQ(seen.method, "PUT");
  EXPECT_EQ(seen.body, std::string("\0\1", 2));
}

TEST_F(HttpFetchTest, CookiesGatheredAndMerged) {
  server.route("/set", [](const HttpRequest&) {
    return HttpResponse{200, {{"Set-Cookie", "b=3; Path=/; HttpOnly"}, {"Set-Cookie", "c=4"}}, "x"};
  });
  server.route("/del", [](const HttpRequest&) {
    return HttpResponse{200, {{"Set-Cookie", "a=deleted; expires=Thu, 01-Jan-1970 00:00:01 GMT"}}, "x"};
  });
  HttpFetchResponse r = HttpFetch({.url = server.base_url() + "/set", .cookies = "a=1; b=2"});
  EXPECT_EQ(r.set_cookies, "b=3; c=4; a=1");
  EXPECT_EQ(last_request(server).header("Cookie"), "a=1; b=2");

  r = HttpFetch({.url = server.base_url() + "/del", .cookies = "a=1; b=2"});
  EXPECT_EQ(r.set_cookies, "b=2");

  r = HttpFetch({.url = server.base_url() + "/set", .cookies = "a=1", .merge_cookies = false});
  EXPECT_EQ(r.set_cookies, "b=3; c=4");

  HttpFetchResponse kept;
  kept.set_cookies = "mine=1; ";
  HttpFetch({.url = server.base_url() + "/set"}, kept);
  EXPECT_EQ(kept.set_cookies, "mine=1; b=3; c=4");
}

TEST_F(HttpFetchTest, CharsetOfThePage) {
  server.route("/utf8", [](const HttpRequest&) { return HttpResponse{200, {}, kUtf8Page}; });
  server.route("/gb2312", [](const HttpRequest&) {
    return HttpResponse{200, {}, gbk_page("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">")};
  });
  server.route("/none", [](const HttpRequest&) { return HttpResponse{200, {}, gbk_page("")}; });

  HttpFetchResponse r = HttpFetch({.url = server.base_url() + "/utf8"});
  EXPECT_EQ(r.text, kUtf8Page);
  EXPECT_EQ(r.body, kUtf8Page);
  for (const char* path : {"/gb2312", "/none"}) {
    r = HttpFetch({.url = server.base_url() + path});
    EXPECT_NE(r.text.find("直播下载"), std::string::npos) << path;
    EXPECT_EQ(platform::utf8_to_gbk(r.text), r.body) << path;  // byte for byte as GBK
  }
}

TEST_F(HttpFetchTest, StatusRedirectAndErrors) {
  server.route("/missing", [](const HttpRequest&) { return HttpResponse{404, {}, "nothing here"}; });
  server.route("/broken", [](const HttpRequest&) { return HttpResponse{500, {}, "broken"}; });
  server.route("/from", [](const HttpRequest&) { return HttpResponse{302, {{"Location", "/to"}}, ""}; });
  server.route("/to", [](const HttpRequest&) { return HttpResponse{200, {}, "arrived"}; });

  HttpFetchResponse r = HttpFetch({.url = server.base_url() + "/missing"});
  EXPECT_EQ(r.status, "404 Not Found");
  EXPECT_EQ(r.text, "nothing here");
  r = HttpFetch({.url = server.base_url() + "/broken"});
  EXPECT_EQ(r.status, "500 Internal Server Error");
  EXPECT_EQ(r.body, "broken");
  EXPECT_EQ(r.response_headers.rfind("HTTP/1.1 500", 0), 0u);

  r = HttpFetch({.url = server.base_url() + "/from"});
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.text, "arrived");
  r = HttpFetch({.url = server.base_url() + "/from", .no_redirect = true});
  EXPECT_EQ(r.status, "302 Found");
  EXPECT_EQ(r.location, "/to");
  EXPECT_EQ(r.text, "");

  r = HttpFetch({.url = "ftp://127.0.0.1/"});
  EXPECT_EQ(r.status, "701 解析URL地址失败!");
  EXPECT_EQ(r.text, "");

  int closed_port;
  {
    HttpServer gone;
    closed_port = gone.port();
  }
  r = HttpFetch({.url = "http://127.0.0.1:" + std::to_string(closed_port) + "/", .timeout_seconds = 5});
  EXPECT_EQ(r.status, "711 发送请求失败!");
  EXPECT_EQ(r.text, "");
}

TEST_F(HttpFetchTest, ConnectionDroppedMidBodyKeepsWhatCame) {
  server.serve_file("/cut.bin", 200000, test::pattern_bytes, {.drop_after = 50000});
  const HttpFetchResponse r = HttpFetch({.url = server.base_url() + "/cut.bin"});
  EXPECT_EQ(r.status, "200 OK");  // the status text replaces the failed read's message
  EXPECT_GT(r.body.size(), 0u);
  EXPECT_LE(r.body.size(), 50000u);
  std::string expected(r.body.size(), '\0');
  test::pattern_bytes(0, expected.data(), expected.size());
  EXPECT_EQ(r.body, expected);
}

// The timeout ends a wait for the answer, and a wait for a TLS handshake that a server (a captive
// portal, say) takes the connection for and never answers.
TEST_F(HttpFetchTest, TimeoutEndsAWaitForTheAnswer) {
  server.serve_bytes("/slow", "late", {.delay_ms = 4000});
  SilentServer silent;
  ASSERT_NE(silent.port(), 0);
  struct Case {
    std::string url;
    std::vector<std::string> statuses;  // a handshake cut short fails the send on Windows
  } cases[] = {
      {server.base_url() + "/slow", {"712 服务器未响应!"}},
      {"https://127.0.0.1:" + std::to_string(silent.port()) + "/x", {"711 发送请求失败!", "712 服务器未响应!"}},
  };
  for (const Case& c : cases) {
    const HttpFetchResponse r = HttpFetch({.url = c.url, .timeout_seconds = 1});
    EXPECT_NE(std::find(c.statuses.begin(), c.statuses.end(), r.status), c.statuses.end()) << c.url << ": " << r.status;
    EXPECT_EQ(r.text, "") << c.url;
  }
}

TEST_F(HttpFetchTest, CredentialsOnlyWhenBothGiven) {
  server.route("/auth", [](const HttpRequest& request) {
    const std::string auth = request.header("Authorization");
    if (auth.empty()) return HttpResponse{401, {{"WWW-Authenticate", "Basic realm=\"t\""}}, "who"};
    return HttpResponse{200, {}, auth};
  });
  HttpFetchResponse r = HttpFetch({.url = server.base_url() + "/auth", .user = "user", .password = "pass"});
  EXPECT_EQ(r.text, "Basic dXNlcjpwYXNz");
  r = HttpFetch({.url = server.base_url() + "/auth", .user = "user"});
  EXPECT_EQ(r.status, "401 Unauthorized");
  EXPECT_EQ(last_request(server).header("Authorization"), "");
}

TEST_F(HttpFetchTest, ThroughAProxyWithItsCredentials) {
  // A proxy gets the whole address in the request line; this one asks for credentials when a
  // request carries none under /private.
  server.route_prefix("http://", [](const HttpRequest& request) {
    const std::string auth = request.header("Proxy-Authorization");
    if (request.target.find("/private") != std::string::npos && auth.empty())
      return HttpResponse{407, {{"Proxy-Authenticate", "Basic realm=\"p\""}}, "credentials"};
    return HttpResponse{200, {}, request.target + " " + auth};
  });
  const std::string proxy = "127.0.0.1:" + std::to_string(server.port());
  HttpFetchResponse r = HttpFetch({.url = "http://far.invalid/page?q=1", .proxy = proxy});
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.text.rfind("http://far.invalid", 0), 0u) << r.text;
  EXPECT_NE(r.text.find("/page?q=1 "), std::string::npos) << r.text;
  r = HttpFetch({.url = "http://far.invalid/private", .proxy = proxy, .proxy_user = "u", .proxy_password = "p"});
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_NE(r.text.find(" Basic dTpw"), std::string::npos) << r.text;
  r = HttpFetch({.url = "http://far.invalid/private", .proxy = proxy, .proxy_user = "u"});
  EXPECT_EQ(r.status.substr(0, 3), "407");
}

// No answer makes the program hold more than the request allows: past the cap the request fails
// with its own text and keeps nothing, with or without a Content-Length to warn of it.
TEST_F(HttpFetchTest, BodiesPastTheCapFail) {
  server.serve_file("/big.bin", kDefaultMaxBodyBytes + 1, test::pattern_bytes);
  server.serve_file("/big-unannounced.bin", kDefaultMaxBodyBytes + 1, test::pattern_bytes, {.content_length = false});
  server.serve_file("/exact.bin", 1000, test::pattern_bytes);
  struct Case {
    const char* path;
    std::size_t cap;
    std::size_t body;  // 0: refused
  } cases[] = {
      {"/big.bin", kDefaultMaxBodyBytes, 0},
      {"/big-unannounced.bin", kDefaultMaxBodyBytes, 0},
      {"/big.bin", kDefaultMaxBodyBytes + 1, kDefaultMaxBodyBytes + 1},
      {"/exact.bin", 1000, 1000},
      {"/exact.bin", 999, 0},
  };
  for (const Case& c : cases) {
    const HttpFetchResponse r = HttpFetch({.url = server.base_url() + c.path, .max_body_bytes = c.cap});
    EXPECT_EQ(r.status, c.body ? "200 OK" : kBodyTooLargeText) << c.path << " " << c.cap;
    EXPECT_EQ(r.body.size(), c.body) << c.path << " " << c.cap;
    if (!c.body) EXPECT_EQ(r.text, "");
  }
}

TEST_F(HttpFetchTest, HeadersAndCookiesPastTheirCapsFail) {
  auto cookies = [](int n) {
    HttpResponse response{200, {}, "body"};
    for (int i = 0; i < n; ++i) response.headers.emplace_back("Set-Cookie", "c" + std::to_string(i) + "=v; Path=/");
    return response;
  };
  server.route("/cookies-ok", [&](const HttpRequest&) { return cookies(kMaxSetCookies); });
  server.route("/cookies-many", [&](const HttpRequest&) { return cookies(kMaxSetCookies + 1); });
  server.route("/long-header", [](const HttpRequest&) {
    return HttpResponse{200, {{"X-Filler", std::string(70000, 'h')}}, "body"};
  });
  // With cookies of the caller's own the system's cookie handling stays on; the count holds all the same.
  for (const char* sent : {"", "mine=1"}) {
    HttpFetchResponse r = HttpFetch({.url = server.base_url() + "/cookies-ok", .cookies = sent});
    EXPECT_EQ(r.status, "200 OK") << sent;
    EXPECT_NE(r.set_cookies.find("c127=v"), std::string::npos) << sent;
    r = HttpFetch({.url = server.base_url() + "/cookies-many", .cookies = sent});
    EXPECT_EQ(r.status, kHeadersTooLargeText) << sent;
    EXPECT_EQ(r.set_cookies, "") << sent;
    EXPECT_EQ(r.text, "") << sent;
  }
  const HttpFetchResponse r = HttpFetch({.url = server.base_url() + "/long-header"});
#ifdef _WIN32
  // WinHTTP enforces its own header limit; some (Wine's) drop the long line instead of failing.
  // Either way nothing past the cap is kept.
  if (r.status != kHeadersTooLargeText) EXPECT_LE(r.response_headers.size(), 65536u);
#else
  EXPECT_EQ(r.status, kHeadersTooLargeText);
  EXPECT_EQ(r.text, "");
#endif
}

// The verified GET: https only, the certificate checked against the authorities the system (and,
// on Linux, the CA-file setting) trusts, never down to http, never more than its cap.
struct VerifiedGetTest : ::testing::Test {
  HttpServer server;
  test::TlsFront tls{server.port()};
  void SetUp() override {
    ASSERT_TRUE(tls.ready()) << "no TLS front (python3 and openssl are needed)";
#ifndef _WIN32
    platform::set_extra_ca_file(tls.ca_file());
#endif
    server.serve_bytes("/doc", "verified");
    server.serve_file("/big", 2 * 1048576, test::pattern_bytes);
    const std::string plain = server.base_url() + "/doc";
    server.route("/to-plain", [plain](const HttpRequest&) { return HttpResponse{302, {{"Location", plain}}, ""}; });
    server.route("/to-https", [](const HttpRequest&) { return HttpResponse{302, {{"Location", "/doc"}}, ""}; });
  }
  void TearDown() override { platform::set_extra_ca_file(""); }
};

TEST_F(VerifiedGetTest, OnlyVerifiedHttpsAnswersCount) {
  SilentServer silent;
  ASSERT_NE(silent.port(), 0);
  struct Case {
    std::string url;
    bool ok;
    const char* body;
  } cases[] = {
      {tls.base_url() + "/doc", true, "verified"},
      {tls.base_url() + "/to-https", true, "verified"},
      {"HTTPS://127.0.0.1:" + std::to_string(tls.port()) + "/doc", true, "verified"},
      {server.base_url() + "/doc", false, ""},      // plain http: not asked at all
      {tls.base_url() + "/to-plain", false, ""},    // sent on to http: not followed
      // No TLS there: a server that answers the handshake in plain text fails it at once; one
      // that says nothing (a captive portal) is given up at the timeout.
      {"https://127.0.0.1:" + std::to_string(server.port()) + "/doc", false, ""},
      {"https://127.0.0.1:" + std::to_string(silent.port()) + "/doc", false, ""},
  };
  for (const Case& c : cases) {
    const int before = server.request_count("/doc");
    const platform::VerifiedGetResult got = platform::verified_get(c.url, 1024, 5000);
    EXPECT_EQ(got.ok, c.ok) << c.url << " status " << got.status << " too large " << got.too_large;
    EXPECT_EQ(got.body, c.body) << c.url;
    if (c.ok) EXPECT_EQ(got.status, 200);
    if (!c.ok) EXPECT_EQ(server.request_count("/doc"), before) << c.url;
  }
  const platform::VerifiedGetResult big = platform::verified_get(tls.base_url() + "/big", 1048576, 10000);
  EXPECT_FALSE(big.ok);
  EXPECT_TRUE(big.too_large);
  EXPECT_EQ(big.body, "");
}

#ifdef _WIN32
// Where WinHTTP lets a call outlive its timeout, the exchange is given up at the call limit and
// names the phase it was stuck in; one that finishes in time gives its result.
TEST(WatchedExchange, ACallStuckPastItsLimitIsGivenUpWithItsPhase) {
  auto release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  auto stuck = platform::Watched<int, std::function<int(platform::CallClock&)>>::run(
      [released](platform::CallClock& clock) {
        clock.entering(7);
        released.wait();
        return 1;
      },
      std::chrono::milliseconds(300));
  EXPECT_FALSE(stuck.result.has_value());
  EXPECT_EQ(stuck.stuck_phase, 7);
  release->set_value();  // the abandoned call ends on its own

  auto quick = platform::Watched<int, std::function<int(platform::CallClock&)>>::run(
      [](platform::CallClock& clock) {
        clock.entering(3);
        return 42;
      },
      std::chrono::milliseconds(60000));
  ASSERT_TRUE(quick.result.has_value());
  EXPECT_EQ(*quick.result, 42);
}
#endif

#ifndef _WIN32
TEST_F(VerifiedGetTest, AnAuthorityNobodyTrustsFails) {
  platform::set_extra_ca_file("");
  EXPECT_FALSE(platform::verified_get(tls.base_url() + "/doc", 1024, 10000).ok);
  // HttpFetch, for display-only texts, reads it all the same.
  EXPECT_EQ(HttpFetch({.url = tls.base_url() + "/doc"}).body, "verified");
}
#endif

}  // namespace
}  // namespace qz::net
