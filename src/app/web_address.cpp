#include "app/web_address.h"

#include "app/text_util.h"

namespace qz::app {
namespace {

// A backslash counts too: browsers read it as a slash, libcurl as part of a name, so the two
// would not agree on which host "https://a\@b/" names.
bool has_blank_or_control(std::string_view text) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || c == '\\') return true;
  }
  return false;
}

std::optional<int> parse_port(std::string_view digits) {
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  int port = 0;
  for (const char c : digits) port = port * 10 + (c - '0');
  if (port < 1 || port > 65535) return std::nullopt;
  return port;
}

// The parts as views into the address, so the check alone (run on every address of a playlist)
// copies nothing.
struct AddressParts {
  bool https = false;
  bool user_info = false;
  std::string_view host;
  int port = 0;
  std::string_view rest;
};

std::optional<AddressParts> split(std::string_view address) {
  if (has_blank_or_control(address)) return std::nullopt;
  AddressParts out;
  std::size_t scheme_end;
  if (starts_with_ignoring_ascii_case(address, "http://")) {
    out.port = 80;
    scheme_end = 7;
  } else if (starts_with_ignoring_ascii_case(address, "https://")) {
    out.https = true;
    out.port = 443;
    scheme_end = 8;
  } else {
    return std::nullopt;
  }
  const std::string_view tail = address.substr(scheme_end);
  const std::size_t authority_end = std::min(tail.find_first_of("/?#"), tail.size());
  std::string_view authority = tail.substr(0, authority_end);
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    out.user_info = true;
    authority.remove_prefix(at + 1);
  }
  out.host = authority;
  std::optional<std::string_view> port;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    out.host = authority.substr(0, close + 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      port = after.substr(1);
    }
  } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
    out.host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  if (port) {
    const auto number = parse_port(*port);
    if (!number) return std::nullopt;
    out.port = *number;
  }
  if (out.host.empty()) return std::nullopt;
  out.rest = tail.substr(authority_end);
  return out;
}

}  // namespace

std::optional<WebAddress> parse_web_address(std::string_view address) {
  const auto parts = split(address);
  if (!parts) return std::nullopt;
  return WebAddress{parts->https ? "https" : "http", parts->user_info, ascii_lower(parts->host), parts->port,
                    std::string(parts->rest)};
}

bool is_web_address(std::string_view address) { return split(address).has_value(); }

std::string shown_address(std::string_view address, std::size_t max_characters) {
  std::string shown;
  std::size_t characters = 0;
  for (const char c : address) {
    const auto u = static_cast<unsigned char>(c);
    // A UTF-8 continuation byte belongs to the character before it.
    if ((u & 0xC0) != 0x80 && characters++ == max_characters) break;
    // A line break or other control byte would break the line it is shown in.
    shown += u < 0x20 || u == 0x7F ? '?' : c;
  }
  return shown;
}

}  // namespace qz::app
