#include "platform/verified_get.h"

#include <curl/curl.h>

#include <memory>

#include "platform/posix/http_curl.h"
#include "platform/tls_trust.h"

namespace qz::platform {
namespace {

struct Body {
  std::size_t max = 0;
  std::string bytes;
  bool too_large = false;
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<Body*>(user);
  if (size * count > body->max - body->bytes.size()) {
    body->too_large = true;
    return 0;  // ends the transfer
  }
  body->bytes.append(data, size * count);
  return size * count;
}

}  // namespace

VerifiedGetResult verified_get(const std::string& url, std::size_t max_body_bytes, int timeout_ms) {
  VerifiedGetResult result;
  if (!is_https_address(url)) return result;
  curl_global_once();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  if (!curl) return result;
  CURL* c = curl.get();
  Body body{max_body_bytes, {}, false};
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const std::string ca = extra_ca_file(); !ca.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, ca.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(max_body_bytes));
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout_ms));
  // A stalled body ends the fetch too: under 1 byte per second for the whole timeout.
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>((timeout_ms + 999) / 1000));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
  const CURLcode code = curl_easy_perform(c);
  if (code != CURLE_OK) {
    result.too_large = body.too_large || code == CURLE_FILESIZE_EXCEEDED;
    return result;
  }
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  result.status = static_cast<int>(status);
  result.ok = status > 0;
  result.body = std::move(body.bytes);
  return result;
}

}  // namespace qz::platform
