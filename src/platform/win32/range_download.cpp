#include "platform/range_download.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/verified_get.h"
#include "platform/win32/wide.h"

namespace qz::platform {
namespace {

constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr DWORD kReadSize = 20480;

struct Internet {
  HINTERNET handle = nullptr;
  explicit Internet(HINTERNET h) : handle(h) {}
  Internet(const Internet&) = delete;
  Internet& operator=(const Internet&) = delete;
  ~Internet() {
    if (handle) InternetCloseHandle(handle);
  }
};

// A proxy the system is set to use is taken as configured; otherwise automatic proxy discovery
// is skipped.
HINTERNET open_internet(const std::wstring& agent) {
  static std::once_flag once;
  std::call_once(once, [] {
    // Every worker needs its own connection to the same server at the same time.
    DWORD conns = 16;
    InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &conns, sizeof conns);
  });
  DWORD state = 0;
  InternetGetConnectedState(&state, 0);
  const DWORD access = (state & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                            : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
  HINTERNET h = InternetOpenW(agent.c_str(), access, nullptr, nullptr, 0);
  if (h) {
    DWORD timeout = 60000;
    InternetSetOptionW(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionW(h, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
  }
  return h;
}

std::optional<std::wstring> query_text(HINTERNET request, DWORD what) {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    DWORD index = 0;
    if (HttpQueryInfoW(request, what, buffer.data(), &bytes, &index))
      return std::wstring(buffer.data(), bytes / sizeof(wchar_t));
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
    buffer.resize(bytes / sizeof(wchar_t) + 1);
  }
}

int status_of(HINTERNET request) {
  DWORD status = 0, size = sizeof status, index = 0;
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index)) return 0;
  return static_cast<int>(status);
}

DownloadReply reply_of(HINTERNET request) {
  DownloadReply reply;
  reply.status = status_of(request);
  // Read as text: the number form of the query stops at 4 GiB.
  if (auto length = query_text(request, HTTP_QUERY_CONTENT_LENGTH)) {
    try {
      reply.content_length = std::stoull(from_wide(*length));
    } catch (...) {
    }
  }
  if (auto range = query_text(request, HTTP_QUERY_CONTENT_RANGE)) reply.content_range = from_wide(*range);
  return reply;
}

bool is_redirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The Location of a redirect, made absolute against the address that gave it.
std::optional<std::wstring> next_address(const std::wstring& from, HINTERNET request) {
  const auto location = query_text(request, HTTP_QUERY_LOCATION);
  if (!location || location->empty()) return std::nullopt;
  std::vector<wchar_t> buffer(2048);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD length = static_cast<DWORD>(buffer.size());
    if (InternetCombineUrlW(from.c_str(), location->c_str(), buffer.data(), &length, 0))
      return std::wstring(buffer.data(), length);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
    buffer.resize(length + 1);
  }
  return std::nullopt;
}

constexpr int kMaxRedirects = 10;  // as many as the Linux transport follows

// Addresses come from servers and pages (a playlist's segments, a redirect): only the web's two
// schemes are fetched. WinINet also speaks ftp (and older ones gopher), which nothing here may
// reach, so the scheme is checked before every request rather than left to WinINet.
bool is_web_scheme(const std::string& url) {
  return url.size() >= 7 && (_strnicmp(url.c_str(), "http://", 7) == 0 || is_https_address(url));
}

// Opens the address and follows its redirects by hand. WinINet is told not to follow them itself:
// Wine's follows one from https down to http (contacting the plain server) before anything could
// refuse it. A download that starts on https stays there; one that starts on http may go anywhere.
// A redirect without a usable Location is handed back as the answer it is.
HINTERNET open_following_redirects(HINTERNET internet, const std::string& url, const std::wstring& headers) {
  if (!is_web_scheme(url)) return nullptr;
  std::wstring address = to_wide(url);
  for (int hop = 0;; ++hop) {
    HINTERNET request = InternetOpenUrlW(internet, address.c_str(), headers.c_str(),
                                         static_cast<DWORD>(headers.size()), kOpenFlags | INTERNET_FLAG_NO_AUTO_REDIRECT, 0);
    if (!request || !is_redirect(status_of(request))) return request;
    const std::optional<std::wstring> next = next_address(address, request);
    if (!next) return request;
    InternetCloseHandle(request);
    const std::string next_url = from_wide(*next);
    if (hop == kMaxRedirects || !is_web_scheme(next_url) || (is_https_address(url) && !is_https_address(next_url)))
      return nullptr;
    address = *next;
  }
}

// A download that starts on https stays there, and one that starts on http stays on the web: an
// answer that came, after redirects, from anywhere else is refused, whatever the WinINet at hand
// allows. (Each hop was checked on the way; this is the answer's own word on where it came from.
// An https start that cannot say is refused, as before; an http one rests on those checks.)
bool strayed(const std::string& url, HINTERNET request) {
  DWORD bytes = 0;
  InternetQueryOptionW(request, INTERNET_OPTION_URL, nullptr, &bytes);
  std::wstring final_url(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(final_url.size() * sizeof(wchar_t));
  if (!InternetQueryOptionW(request, INTERNET_OPTION_URL, final_url.data(), &bytes)) return is_https_address(url);
  final_url.resize(wcsnlen(final_url.c_str(), final_url.size()));
  const std::string final_address = from_wide(final_url);
  return !is_web_scheme(final_address) || (is_https_address(url) && !is_https_address(final_address));
}

}  // namespace

std::optional<DownloadReply> probe_download(const std::string& url, const std::string& headers) {
  Internet internet(open_internet(L""));
  if (!internet.handle) return std::nullopt;
  const std::wstring h = to_wide(headers);
  Internet request(open_following_redirects(internet.handle, url, h));
  if (!request.handle || strayed(url, request.handle)) return std::nullopt;
  return reply_of(request.handle);  // no body is read
}

std::optional<std::string> redirect_location(const std::string& url) {
  if (!is_web_scheme(url)) return std::nullopt;
  DWORD state = 0;
  if (!InternetGetConnectedState(&state, 0)) return std::nullopt;
  Internet internet(open_internet(L"我的下载" + std::to_wstring(GetTickCount())));
  if (!internet.handle) return std::nullopt;
  Internet request(InternetOpenUrlW(internet.handle, to_wide(url).c_str(), nullptr, 0,
                                    kOpenFlags | INTERNET_FLAG_NO_AUTO_REDIRECT, 0));
  if (!request.handle) return std::nullopt;
  auto location = query_text(request.handle, HTTP_QUERY_LOCATION);
  if (!location || location->empty()) return std::nullopt;
  return from_wide(*location);
}

struct DownloadSession::Impl {
  HINTERNET internet = nullptr;
};

DownloadSession::DownloadSession() : impl_(std::make_unique<Impl>()) { impl_->internet = open_internet(L""); }

DownloadSession::~DownloadSession() {
  if (impl_->internet) InternetCloseHandle(impl_->internet);
}

FetchOutcome DownloadSession::fetch(const std::string& url, const std::string& headers, const Callbacks& callbacks) {
  if (!impl_->internet) return FetchOutcome::Failed;
  const std::wstring h = to_wide(headers);
  Internet request(open_following_redirects(impl_->internet, url, h));
  if (!request.handle || strayed(url, request.handle)) return FetchOutcome::Failed;
  if (!callbacks.on_reply(reply_of(request.handle))) return FetchOutcome::Cancelled;
  std::vector<char> buffer(kReadSize);
  for (;;) {
    if (callbacks.cancelled && callbacks.cancelled()) return FetchOutcome::Cancelled;
    DWORD read = 0;
    if (!InternetReadFile(request.handle, buffer.data(), kReadSize, &read)) return FetchOutcome::Failed;
    if (read == 0) return FetchOutcome::Complete;
    if (!callbacks.on_data(buffer.data(), read)) return FetchOutcome::Cancelled;
  }
}

}  // namespace qz::platform
