#pragma once
// A plain GET from a server that must prove itself: https only, the certificate chain and host
// name checked (against the system's authorities and the extra file of platform/tls_trust.h), and
// no redirect ever leaves https. For documents that decide what the program does next (the update
// index, a tool's digest), unlike HttpFetch, which ignores certificate errors.
#include <cstddef>
#include <string>

namespace qz::platform {

struct VerifiedGetResult {
  bool ok = false;         // a response arrived (any status) over a verified connection
  bool too_large = false;  // the body passed the cap; nothing of it is kept
  int status = 0;          // HTTP status code of the last response
  std::string body;        // bytes as received
};

inline constexpr std::size_t kVerifiedGetMaxBody = 1048576;

// Anything but an https address fails at once. Follows up to 5 redirects, each to https and
// checked the same way. `timeout_ms` bounds each phase; where the system's HTTP service lets a wait
// outlast it (Wine's TLS handshake), the request is given up at twice that.
VerifiedGetResult verified_get(const std::string& url, std::size_t max_body_bytes = kVerifiedGetMaxBody,
                               int timeout_ms = 30000);

// True when `url` starts with "https://" (the scheme in any case).
bool is_https_address(const std::string& url);

}  // namespace qz::platform
