#pragma once
// An http or https address taken apart, for the checks that decide whether an address a server
// or a page handed us may be fetched at all. Nothing else is a web address here: the program
// fetches no other scheme from an address it did not write itself.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qz::app {

// The longest address the program takes from a server or a page. Real ones, signed tokens and
// all, are a few hundred bytes.
inline constexpr std::size_t kMaxWebAddressBytes = 8192;

struct WebAddress {
  std::string scheme;  // "http" or "https", lower case
  bool user_info = false;  // "user@" or "user:password@" before the host
  std::string host;    // lower case; an IPv6 literal keeps its brackets
  int port = 0;        // the one given, else the scheme's own
  std::string rest;    // path, query and fragment as written ("" when none)
};

// Nothing for an address that is not http or https, has no host, an unusable port, or a control
// byte, a blank or a backslash anywhere (a line break in an address is a line of its own to
// whoever reads it next).
std::optional<WebAddress> parse_web_address(std::string_view address);

// True when `address` parses as above.
bool is_web_address(std::string_view address);

// The address as a message shows it: its first `max_characters` (UTF-8) characters, each control
// byte shown as "?".
std::string shown_address(std::string_view address, std::size_t max_characters = 200);

}  // namespace qz::app
