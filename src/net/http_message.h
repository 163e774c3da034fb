#pragma once
// The pieces of an HttpFetch exchange that need no network: the address split, the method and
// timeout rules, the request header block, and reading the response's status, cookies, redirect
// target and charset.
#include <optional>
#include <string>
#include <string_view>

#include "net/http_fetch.h"

namespace qz::net {

struct SplitUrl {
  bool secure = false;
  std::string host;
  int port = 0;
  std::string object_path;  // path + query; "/" (query dropped) when the address has no path
};
std::optional<SplitUrl> split_url(std::string_view url);

std::string method_name(int method);          // 0..7, anything else "GET"
int timeout_ms(int timeout_seconds);          // seconds × 1000, or 30000 when not above 0

// The header block as sent: caller lines, the missing default lines, names capitalised, the
// keep-alive line removed, the Cookie line.
std::string build_header_block(const HttpFetchRequest& request);
std::string normalize_header_names(std::string_view block);

std::string status_text(std::string_view raw_headers);
// Appends the "name=value; " of every Set-Cookie line to `cookies` (attributes dropped) and
// returns the value of the last "Location: " line (empty if none) through `location`.
void read_response_headers(std::string_view raw_headers, std::string& cookies, std::string& location);

// The charset a page declares in a <meta ... charset=...> tag within its first 1024 bytes; "" if none.
std::string declared_charset(std::string_view text);
// The body as UTF-8 text: cut at the first NUL, decoded from the declared charset, or from GBK
// when none, "gbk" or "gb2312" is declared or the charset is unknown.
std::string decode_body(std::string_view body);

}  // namespace qz::net
