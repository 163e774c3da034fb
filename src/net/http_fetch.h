#pragma once
// HttpFetch: a one-shot HTTP request with browser-like default headers, cookie gathering and
// merging, the redirect target and the page's text decoded from its own charset. Every call opens
// and closes its own connection; it blocks, never throws, and is safe from any thread.
#include <cstddef>
#include <string>

namespace qz::net {

inline constexpr std::size_t kDefaultMaxBodyBytes = 16 * 1048576;
// Past the body cap, and past 64 KiB of headers or kMaxSetCookies Set-Cookie lines.
inline constexpr const char* kBodyTooLargeText = "714 响应内容超过上限!";
inline constexpr const char* kHeadersTooLargeText = "715 响应头超过上限!";
inline constexpr int kMaxSetCookies = 128;

struct HttpFetchRequest {
  std::string url;  // absolute http:// or https:// address
  // 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT; anything else GET.
  int method = 0;
  std::string body_text;  // UTF-8; sent as GBK bytes, as the servers of this tool expect
  std::string cookies;    // "a=1; b=2" or a whole "Cookie: ..." line
  std::string extra_headers;  // "Name: value" lines joined by "\r\n"
  bool no_redirect = false;
  std::string user, password;  // Basic credentials, used only when both are given
  std::string proxy;           // "host:port"; empty = direct
  std::string proxy_user, proxy_password;  // used only when both are given
  int timeout_seconds = 0;     // above 0: that many seconds per phase; otherwise 30
  bool merge_cookies = true;   // merge the sent cookies into set_cookies
  bool add_default_headers = true;
  std::string body_bytes;      // raw body; when not empty it is sent instead of body_text
  bool normalize_header_names = true;
  // A larger body fails the request with kBodyTooLargeText: each caller caps what it reads at
  // what its use can need, so no answer makes the program allocate without end.
  std::size_t max_body_bytes = kDefaultMaxBodyBytes;
};

struct HttpFetchResponse {
  // The body decoded to UTF-8 from the charset its <meta> tag declares, else from GBK; empty on
  // failure. A UTF-8 answer without such a tag (plain text, JSON) is best read from `body`.
  std::string text;
  // "name=value" pairs received in Set-Cookie lines, joined by "; ", merged with the sent cookies
  // when merge_cookies holds. Received pairs are appended to what the field held before the call.
  std::string set_cookies;
  std::string response_headers;  // status line and header lines, "\r\n" separated
  std::string location;          // value of the last "Location: " header, empty if none
  std::string status;            // "200 OK", or a numbered failure text such as "701 解析URL地址失败!"
  std::string body;              // the body bytes exactly as received
};

HttpFetchResponse HttpFetch(const HttpFetchRequest& request);
// The same, filling `response` in place (set_cookies keeps what it held); returns response.text.
std::string HttpFetch(const HttpFetchRequest& request, HttpFetchResponse& response);

// The cookie merge on its own: pairs of new_cookies first, then the old pairs whose names the new
// text does not hold; "=deleted" pairs and exact repeats are dropped.
std::string merge_cookie_text(const std::string& old_cookies, const std::string& new_cookies);

}  // namespace qz::net
