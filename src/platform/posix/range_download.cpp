#include "platform/range_download.h"

#include <curl/curl.h>
#include <strings.h>

#include <chrono>

#include "platform/posix/http_curl.h"
#include "platform/tls_trust.h"
#include "platform/verified_get.h"

namespace qz::platform {
namespace {

using Clock = std::chrono::steady_clock;
// A connection that moves no byte for this long has failed.
constexpr auto kStallLimit = std::chrono::seconds(60);

curl_slist* header_list(const std::string& headers) {
  curl_slist* list = nullptr;
  for (std::size_t start = 0; start < headers.size();) {
    std::size_t end = headers.find("\r\n", start);
    if (end == std::string::npos) end = headers.size();
    const std::string line = headers.substr(start, end - start);
    if (!line.empty()) list = curl_slist_append(list, line.c_str());
    start = end + 2;
  }
  return list;
}

struct HeaderCapture {
  std::string content_range;
  std::string location;
};

std::string header_value(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':' || strncasecmp(line.data(), name.data(), name.size()) != 0)
    return {};
  std::string_view v = line.substr(name.size() + 1);
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == '\r' || v.back() == '\n' || v.back() == ' ')) v.remove_suffix(1);
  return std::string(v);
}

size_t capture_header(char* data, size_t size, size_t count, void* user) {
  auto* capture = static_cast<HeaderCapture*>(user);
  const std::string_view line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) *capture = {};
  if (std::string v = header_value(line, "Content-Range"); !v.empty()) capture->content_range = v;
  if (std::string v = header_value(line, "Location"); !v.empty()) capture->location = v;
  return size * count;
}

DownloadReply reply_of(CURL* c, const HeaderCapture& capture) {
  DownloadReply reply;
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  reply.status = static_cast<int>(status);
  curl_off_t length = -1;
  if (curl_easy_getinfo(c, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0)
    reply.content_length = static_cast<std::uint64_t>(length);
  reply.content_range = capture.content_range;
  return reply;
}

void common_options(CURL* c) {
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  // Addresses come from servers and pages (a playlist's segments, a redirect): only the web's two
  // schemes are fetched, never one of the many others libcurl knows (gopher, dict, file, ...).
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // HTTP/2 where a server offers it over TLS; plain http stays HTTP/1.1.
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_2TLS);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
  curl_easy_setopt(c, CURLOPT_TCP_KEEPALIVE, 1L);
  // Bodies are megabytes: taken in larger reads, a fast link costs fewer calls per byte.
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 256L * 1024);
  if (const std::string ca = extra_ca_file(); !ca.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, ca.c_str());
}

// What the length probe and the block fetch ask alike: the address, the caller's headers,
// redirects followed, and the answer's header lines gathered into `capture`.
void request_options(CURL* c, const std::string& url, curl_slist* headers, HeaderCapture* capture) {
  common_options(c);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
  // A download that starts on https stays there: a redirect down to http would let whoever sits
  // on the path choose the file.
  if (is_https_address(url)) curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, capture_header);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, capture);
}

}  // namespace

std::optional<DownloadReply> probe_download(const std::string& url, const std::string& headers) {
  curl_global_once();
  CURL* c = curl_easy_init();
  if (!c) return std::nullopt;
  HeaderCapture capture;
  curl_slist* list = header_list(headers);
  request_options(c, url, list, &capture);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 60L);
  // Ending the transfer at the first body byte keeps a large file from being read here.
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, +[](char*, size_t, size_t, void*) -> size_t { return 0; });
  const CURLcode code = curl_easy_perform(c);
  std::optional<DownloadReply> reply;
  if (code == CURLE_OK || code == CURLE_WRITE_ERROR) reply = reply_of(c, capture);
  curl_slist_free_all(list);
  curl_easy_cleanup(c);
  return reply;
}

std::optional<std::string> redirect_location(const std::string& url) {
  curl_global_once();
  CURL* c = curl_easy_init();
  if (!c) return std::nullopt;
  HeaderCapture capture;
  common_options(c);
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, capture_header);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &capture);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, +[](char*, size_t, size_t, void*) -> size_t { return 0; });
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 60L);
  const CURLcode code = curl_easy_perform(c);
  curl_easy_cleanup(c);
  if ((code != CURLE_OK && code != CURLE_WRITE_ERROR) || capture.location.empty()) return std::nullopt;
  return capture.location;
}

struct DownloadSession::Impl {
  CURL* curl = nullptr;
};

DownloadSession::DownloadSession() : impl_(std::make_unique<Impl>()) {
  curl_global_once();
  impl_->curl = curl_easy_init();
}

DownloadSession::~DownloadSession() {
  if (impl_->curl) curl_easy_cleanup(impl_->curl);
}

FetchOutcome DownloadSession::fetch(const std::string& url, const std::string& headers, const Callbacks& callbacks) {
  CURL* c = impl_->curl;
  if (!c) return FetchOutcome::Failed;
  struct State {
    CURL* curl;
    const Callbacks* callbacks;
    HeaderCapture capture;
    bool replied = false;
    bool cancelled = false;
    curl_off_t last_now = -1;
    Clock::time_point last_activity = Clock::now();
  } state{c, &callbacks, {}, false, false, -1, Clock::now()};

  curl_slist* list = header_list(headers);
  curl_easy_reset(c);
  request_options(c, url, list, &state.capture);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &state);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* user) -> size_t {
    auto* s = static_cast<State*>(user);
    if (!s->replied) {
      s->replied = true;
      if (!s->callbacks->on_reply(reply_of(s->curl, s->capture))) {
        s->cancelled = true;
        return 0;
      }
    }
    const bool go_on = s->callbacks->on_data(data, size * count);
    // Time spent in the callback (a paused task waits there) is not a stalled connection.
    s->last_activity = Clock::now();
    if (!go_on) {
      s->cancelled = true;
      return 0;
    }
    return size * count;
  });
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &state);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION,
                   +[](void* user, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) -> int {
                     auto* s = static_cast<State*>(user);
                     if (now != s->last_now) {
                       s->last_now = now;
                       s->last_activity = Clock::now();
                     }
                     if (s->callbacks->cancelled && s->callbacks->cancelled()) {
                       s->cancelled = true;
                       return 1;
                     }
                     return Clock::now() - s->last_activity > kStallLimit ? 1 : 0;
                   });
  const CURLcode code = curl_easy_perform(c);
  curl_slist_free_all(list);
  if (state.cancelled) return FetchOutcome::Cancelled;
  if (code != CURLE_OK) return FetchOutcome::Failed;
  if (!state.replied && !callbacks.on_reply(reply_of(c, state.capture))) return FetchOutcome::Cancelled;
  return FetchOutcome::Complete;
}

}  // namespace qz::platform
