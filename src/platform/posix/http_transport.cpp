#include "platform/http_transport.h"

#include <curl/curl.h>
#include <strings.h>

#include <memory>
#include <mutex>
#include <vector>

#include "platform/posix/http_curl.h"
#include "platform/text_codec.h"

namespace qz::platform {
namespace {

struct Exchange {
  std::size_t max_body = 0, max_headers = 0;
  std::string body;
  std::string headers;
  std::size_t header_bytes = 0;  // of every response, redirects included
  bool got_headers = false;
  HttpPhase too_large = HttpPhase::Ok;
};

// Returning less than was given ends the transfer.
size_t on_body(char* data, size_t size, size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  if (size * count > exchange->max_body - exchange->body.size()) {
    exchange->too_large = HttpPhase::BodyTooLarge;
    return 0;
  }
  exchange->body.append(data, size * count);
  return size * count;
}

// Only the headers of the last response count: a redirect or a 100 Continue starts a new block.
size_t on_header(char* data, size_t size, size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  const std::string_view line(data, size * count);
  exchange->header_bytes += line.size();
  if (exchange->header_bytes > exchange->max_headers) {
    exchange->too_large = HttpPhase::HeadersTooLarge;
    return 0;
  }
  if (line.rfind("HTTP/", 0) == 0) exchange->headers.clear();
  exchange->headers.append(line);
  exchange->got_headers = true;
  return size * count;
}

bool names_header(const std::string& block, std::string_view name) {
  for (std::size_t start = 0; start < block.size();) {
    std::size_t end = block.find("\r\n", start);
    if (end == std::string::npos) end = block.size();
    const std::string_view line(block.data() + start, end - start);
    if (line.size() > name.size() && line[name.size()] == ':' &&
        strncasecmp(line.data(), name.data(), name.size()) == 0)
      return true;
    start = end + 2;
  }
  return false;
}

}  // namespace

HttpTransportResult http_transport_send(const HttpTransportRequest& request) {
  HttpTransportResult result;
  curl_global_once();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  if (!curl) {
    result.failure = HttpPhase::Open;
    return result;
  }
  CURL* c = curl.get();
  const std::string url = std::string(request.secure ? "https://" : "http://") + request.host + ":" +
                          std::to_string(request.port) + request.object_path;
  Exchange exchange;
  exchange.max_body = request.max_body_bytes;
  exchange.max_headers = request.max_header_bytes;
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  // The address is http or https by construction; a redirect a server sends stays on them too.
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  if (curl_easy_setopt(c, CURLOPT_URL, url.c_str()) != CURLE_OK) {
    result.failure = HttpPhase::Request;
    return result;
  }
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &exchange);

  // One limit for every phase: connecting, and no byte moving for that long while sending or
  // waiting for the answer.
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.timeout_ms));
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>((request.timeout_ms + 999) / 1000));

  if (!request.proxy.empty()) curl_easy_setopt(c, CURLOPT_PROXY, request.proxy.c_str());
  if (!request.user.empty() && !request.password.empty()) {
    if (curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_BASIC) != CURLE_OK ||
        curl_easy_setopt(c, CURLOPT_USERNAME, request.user.c_str()) != CURLE_OK ||
        curl_easy_setopt(c, CURLOPT_PASSWORD, request.password.c_str()) != CURLE_OK) {
      result.failure = HttpPhase::Credentials;
      return result;
    }
  }
  if (!request.proxy_user.empty() && !request.proxy_password.empty()) {
    if (curl_easy_setopt(c, CURLOPT_PROXYAUTH, CURLAUTH_BASIC) != CURLE_OK ||
        curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, request.proxy_user.c_str()) != CURLE_OK ||
        curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, request.proxy_password.c_str()) != CURLE_OK) {
      result.failure = HttpPhase::Credentials;
      return result;
    }
  }
  // Untrusted, misused, misnamed and expired certificates are all accepted.
  if (request.secure && (curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L) != CURLE_OK ||
                         curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L) != CURLE_OK)) {
    result.failure = HttpPhase::SecurityFlags;
    return result;
  }
  // libcurl keeps no cookies unless asked to, which is what an empty cookie text wants.
  if (!request.no_redirect) {
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
  }

  // The block goes out as built; headers libcurl would add on its own are suppressed unless the
  // block names them.
  curl_slist* list = nullptr;
  for (std::size_t start = 0; start < request.headers.size();) {
    std::size_t end = request.headers.find("\r\n", start);
    if (end == std::string::npos) end = request.headers.size();
    const std::string line = request.headers.substr(start, end - start);
    if (!line.empty()) list = curl_slist_append(list, line.c_str());
    start = end + 2;
  }
  for (const char* name : {"Accept", "Content-Type", "Expect"})
    if (!names_header(request.headers, name)) list = curl_slist_append(list, (std::string(name) + ":").c_str());
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(list, &curl_slist_free_all);
  if (curl_easy_setopt(c, CURLOPT_HTTPHEADER, list) != CURLE_OK) {
    result.failure = HttpPhase::Headers;
    return result;
  }

  if (request.method == "HEAD") {
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
  } else if (request.method != "GET" || !request.body.empty()) {
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  if (!request.body.empty()) {
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.data());
  } else if (request.method == "POST") {
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, "");
  }

  const CURLcode code = curl_easy_perform(c);
  if (exchange.too_large != HttpPhase::Ok) {
    result.failure = exchange.too_large;
    return result;
  }
  if (code != CURLE_OK) {
    if (exchange.got_headers) {
      result.read_failed = true;  // what came so far is kept, as after a failed read
    } else {
      double connect_time = 0;
      curl_easy_getinfo(c, CURLINFO_CONNECT_TIME, &connect_time);
      const bool not_reached = code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY ||
                               code == CURLE_COULDNT_CONNECT || code == CURLE_SEND_ERROR ||
                               code == CURLE_SSL_CONNECT_ERROR ||
                               (code == CURLE_OPERATION_TIMEDOUT && connect_time <= 0);
      result.failure = not_reached ? HttpPhase::Send : HttpPhase::Receive;
      return result;
    }
  }
  result.body = std::move(exchange.body);
  result.raw_headers = is_valid_utf8(exchange.headers) ? std::move(exchange.headers) : gbk_to_utf8(exchange.headers);
  return result;
}

}  // namespace qz::platform
