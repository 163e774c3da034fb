#pragma once
// A plain GET whose https server must prove itself: the certificate chain and host name are
// checked, and a certificate that fails makes the whole fetch fail. For documents that decide what
// the program does next (the update index), unlike HttpFetch, which ignores certificate errors.
#include <string>

namespace qz::platform {

struct VerifiedGetResult {
  bool ok = false;   // a response arrived (any status) over a verified connection
  int status = 0;    // HTTP status code of the last response
  std::string body;  // bytes as received
};

// Follows up to 5 redirects, each checked the same way. `timeout_ms` bounds each phase.
VerifiedGetResult verified_get(const std::string& url, int timeout_ms = 30000);

}  // namespace qz::platform
