#include "net/http_message.h"

#include <regex>
#include <unordered_set>
#include <vector>

#include "app/text_util.h"
#include "platform/text_codec.h"

namespace qz::net {
namespace {

std::vector<std::string> split(std::string_view text, std::string_view sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(sep, start);
    if (at == std::string_view::npos) {
      out.emplace_back(text.substr(start));
      return out;
    }
    out.emplace_back(text.substr(start, at - start));
    start = at + sep.size();
  }
}

std::string trim_spaces(std::string_view s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  return std::string(s.substr(b, s.find_last_not_of(' ') - b + 1));
}

void remove_all(std::string& text, std::string_view what) {
  for (std::size_t at; (at = text.find(what)) != std::string::npos;) text.erase(at, what.size());
}

}  // namespace

std::optional<SplitUrl> split_url(std::string_view url) {
  SplitUrl out;
  std::size_t rest;
  if (url.size() >= 7 && app::equals_ignoring_ascii_case(url.substr(0, 7), "http://")) {
    rest = 7;
    out.port = 80;
  } else if (url.size() >= 8 && app::equals_ignoring_ascii_case(url.substr(0, 8), "https://")) {
    rest = 8;
    out.secure = true;
    out.port = 443;
  } else {
    return std::nullopt;
  }
  const std::string_view tail = url.substr(rest);
  const std::size_t authority_end = std::min(tail.find_first_of("/?#"), tail.size());
  std::string_view authority = tail.substr(0, authority_end);
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  const std::size_t bracket = authority.rfind(']');
  const std::size_t colon = authority.rfind(':');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    const std::string_view digits = authority.substr(colon + 1);
    if (!digits.empty()) {
      if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
      out.port = std::stoi(std::string(digits));
      if (out.port < 1 || out.port > 65535) return std::nullopt;
    }
    authority = authority.substr(0, colon);
  }
  if (authority.empty() || authority.find_first_of(" \t\r\n") != std::string_view::npos) return std::nullopt;
  out.host = std::string(authority);
  std::string_view after = tail.substr(authority_end);
  after = after.substr(0, after.find('#'));  // the fragment stays with the client
  if (after.empty() || after.front() != '/') out.object_path = "/";  // no path: the query is dropped too
  else out.object_path = std::string(after);
  return out;
}

std::string method_name(int method) {
  static const char* const names[] = {"GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};
  return method >= 0 && method <= 7 ? names[method] : "GET";
}

int timeout_ms(int timeout_seconds) {
  if (timeout_seconds <= 0) return 30000;
  if (timeout_seconds > 2000000) return 2000000000;
  return timeout_seconds * 1000;
}

std::string normalize_header_names(std::string_view block) {
  std::string out;
  bool first = true;
  for (const std::string& line : split(block, "\r\n")) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    bool piece_start = true;
    for (char& c : name) {
      if (c == '-') {
        piece_start = true;
        continue;
      }
      if (piece_start && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      piece_start = false;
    }
    if (!first) out += "\r\n";
    first = false;
    out += name + line.substr(colon);
  }
  return out;
}

std::string build_header_block(const HttpFetchRequest& request) {
  std::string h = request.extra_headers;
  if (!h.empty()) h += "\r\n";
  if (request.add_default_headers) {
    struct Default {
      const char* key;
      const char* line;
      bool post_only;
    };
    static const Default defaults[] = {
        {"User-Agent: ", "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n", false},
        {"Accept: ", "Accept: text/html, application/xhtml+xml, */*\r\n", false},
        {"Accept-Encoding: ", "Accept-Encoding: gbk, GB2312\r\n", false},
        {"Accept-Language: ", "Accept-Language: zh-cn\r\n", false},
        {"Content-Type:", "Content-Type: application/x-www-form-urlencoded\r\n", true},
        {"Cache-Control: ", "Cache-Control: no-cache\r\n", false},
    };
    for (const Default& d : defaults) {
      if (d.post_only && request.method != 1) continue;
      if (!app::contains_ignoring_ascii_case(h, d.key)) h += d.line;
    }
  }
  if (request.normalize_header_names) h = normalize_header_names(h);

  if (h.find("Connection") != std::string::npos) {
    std::string value;
    for (const std::string& line : split(h, "\r\n")) {
      if (line.rfind("Connection", 0) != 0) continue;
      const std::size_t at = line.rfind("Connection: ");
      if (at != std::string::npos) value = line.substr(at + 12);
      break;
    }
    if (value == "keep-alive") remove_all(h, "Connection: keep-alive\r\n");
  }

  if (!app::contains_ignoring_ascii_case(h, "Cookie:") && !request.cookies.empty()) {
    if (app::contains_ignoring_ascii_case(request.cookies, "Cookie:")) h += "\r\n" + request.cookies + "\r\n";
    else h += "\r\nCookie: " + request.cookies + "\r\n";
  }
  return h;
}

std::string status_text(std::string_view raw_headers) {
  if (raw_headers.size() <= 9) return {};
  const std::size_t end = raw_headers.find("\r\n", 9);
  return std::string(raw_headers.substr(9, end == std::string_view::npos ? std::string_view::npos : end - 9));
}

void read_response_headers(std::string_view raw_headers, std::string& cookies, std::string& location) {
  for (const std::string& line : split(raw_headers, "\r\n")) {
    const std::size_t name_end = line.find(": ");
    if (name_end != std::string::npos && line.compare(0, name_end, "Set-Cookie") == 0) {
      std::string cookie;
      const std::size_t label = line.find("Set-Cookie:");
      const std::size_t semicolon = line.find(';', label == std::string::npos ? 0 : label);
      if (semicolon != std::string::npos) {
        const std::size_t from = label == std::string::npos ? 0 : label + 11;
        cookie = line.substr(from, semicolon > from ? semicolon - from : 0);
      } else {
        cookie = line;
        remove_all(cookie, "Set-Cookie:");
      }
      cookies += trim_spaces(cookie) + "; ";
    }
    if (line.size() >= 10 && app::equals_ignoring_ascii_case(std::string_view(line).substr(0, 10), "Location: ")) location = line.substr(10);
  }
}

std::string merge_cookie_text(const std::string& old_cookies, const std::string& new_cookies) {
  auto items_of = [](const std::string& text) {
    std::string t = trim_spaces(text);
    if (!t.empty() && t.back() == ';') t += ' ';
    std::vector<std::string> items;
    if (t.empty()) return items;
    for (std::string& item : split(t, "; "))
      if (!item.empty()) items.push_back(std::move(item));
    return items;
  };
  auto key_of = [](const std::string& item) { return trim_spaces(item.substr(0, item.find('='))); };

  // Sets, not scans: a caller's cookie text may be long, and the merge stays linear in it.
  std::vector<std::string> merged = items_of(new_cookies);
  std::unordered_set<std::string> new_keys;
  for (const std::string& item : merged) new_keys.insert(key_of(item));
  for (std::string& item : items_of(old_cookies))
    if (!new_keys.count(key_of(item))) merged.push_back(std::move(item));
  std::vector<std::string> kept;
  std::unordered_set<std::string> seen;
  for (std::string& item : merged) {
    const bool deleted = item.size() >= 8 && item.compare(item.size() - 8, 8, "=deleted") == 0;
    if (deleted || !seen.insert(item).second) continue;
    kept.push_back(std::move(item));
  }
  std::string out;
  for (const std::string& item : kept) out += (out.empty() ? "" : "; ") + item;
  return out;
}

std::string declared_charset(std::string_view text) {
  const std::string head(text.substr(0, std::min<std::size_t>(text.size(), 1024)));
  try {
    static const std::regex pattern(R"(<meta.+?charset=[^\w]?([-\w]+))", std::regex::icase | std::regex::ECMAScript);
    std::smatch match;
    if (std::regex_search(head, match, pattern)) return match[1].str();
  } catch (const std::regex_error&) {
    // An expression that cannot run leaves the text as it is.
  }
  return {};
}

std::string decode_body(std::string_view body) {
  const std::string_view text = body.substr(0, body.find('\0'));
  const std::string charset = declared_charset(text);
  if (charset.empty() || charset == "gbk" || charset == "gb2312") return platform::gbk_to_utf8(text);
  std::optional<std::string> decoded = platform::charset_to_utf8(body, charset);
  if (!decoded) return platform::gbk_to_utf8(text);
  decoded->resize(std::min(decoded->size(), decoded->find('\0')));
  return *decoded;
}

}  // namespace qz::net
