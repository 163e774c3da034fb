#include "platform/http_transport.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <vector>

#include "platform/win32/watched_exchange.h"
#include "platform/win32/wide.h"

namespace qz::platform {
namespace {

// Closes the request, the connection and the session, in that order, on every way out.
struct Handles {
  HINTERNET session = nullptr, connection = nullptr, request = nullptr;
  ~Handles() {
    if (request) WinHttpCloseHandle(request);
    if (connection) WinHttpCloseHandle(connection);
    if (session) WinHttpCloseHandle(session);
  }
};

HttpTransportResult failed(HttpPhase phase) {
  HttpTransportResult r;
  r.failure = phase;
  return r;
}

// True unless the answer says it came from somewhere other than http or https. WinHTTP follows
// redirects on those two alone; this holds it to that whatever the WinHTTP at hand does, as the
// Linux transport holds libcurl. An answer that cannot say rests on WinHTTP.
bool answered_on_the_web(HINTERNET request) {
  DWORD bytes = 0;
  WinHttpQueryOption(request, WINHTTP_OPTION_URL, nullptr, &bytes);
  if (bytes == 0) return true;
  std::wstring url(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(url.size() * sizeof(wchar_t));
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_URL, url.data(), &bytes)) return true;
  url.resize(wcsnlen(url.c_str(), url.size()));
  return _wcsnicmp(url.c_str(), L"http://", 7) == 0 || _wcsnicmp(url.c_str(), L"https://", 8) == 0;
}

std::wstring host_of(const std::string& host) {
  // WinHttpConnect wants an IPv6 literal without its brackets.
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') return to_wide(host.substr(1, host.size() - 2));
  return to_wide(host);
}

HttpTransportResult exchange(const HttpTransportRequest& request, CallClock& clock) {
  clock.entering(static_cast<int>(HttpPhase::Open));
  Handles h;
  // The proxy text as given serves every scheme. Its "http=" scoped form would say the same for
  // this session's one plain-HTTP request, but not every WinHTTP understands it (Wine's does not).
  const std::wstring proxy = to_wide(request.proxy);
  h.session = WinHttpOpen(nullptr, proxy.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                          proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0);
  if (!h.session) return failed(HttpPhase::Open);
  const int t = request.timeout_ms;
  if (!WinHttpSetTimeouts(h.session, t, t, t, t)) return failed(HttpPhase::Timeouts);
  h.connection = WinHttpConnect(h.session, host_of(request.host).c_str(), static_cast<INTERNET_PORT>(request.port), 0);
  if (!h.connection) return failed(HttpPhase::Connect);
  h.request = WinHttpOpenRequest(h.connection, to_wide(request.method).c_str(), to_wide(request.object_path).c_str(),
                                 nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                 request.secure ? WINHTTP_FLAG_SECURE : 0);
  if (!h.request) return failed(HttpPhase::Request);
  // The wait for the answer's headers has a timeout of its own (90 s by default; none at all in
  // Wine's WinHTTP, which also waits for the TLS handshake under it); the caller's timeout covers
  // that phase too.
  DWORD response_timeout = static_cast<DWORD>(t);
  WinHttpSetOption(h.request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout, sizeof response_timeout);
  DWORD max_headers = static_cast<DWORD>(request.max_header_bytes);
  WinHttpSetOption(h.request, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &max_headers, sizeof max_headers);
  if (!request.user.empty() && !request.password.empty() &&
      !WinHttpSetCredentials(h.request, WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC,
                             to_wide(request.user).c_str(), to_wide(request.password).c_str(), nullptr))
    return failed(HttpPhase::Credentials);
  if (!request.proxy_user.empty() && !request.proxy_password.empty() &&
      !WinHttpSetCredentials(h.request, WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC,
                             to_wide(request.proxy_user).c_str(), to_wide(request.proxy_password).c_str(), nullptr))
    return failed(HttpPhase::Credentials);

  // Untrusted authority, wrong usage, invalid common name, invalid date: all ignored.
  DWORD security = 0x3300;
  if (!WinHttpSetOption(h.request, WINHTTP_OPTION_SECURITY_FLAGS, &security, sizeof security))
    return failed(HttpPhase::SecurityFlags);
  if (!request.cookies_given) {
    DWORD no_cookies = WINHTTP_DISABLE_COOKIES;
    if (!WinHttpSetOption(h.request, WINHTTP_OPTION_DISABLE_FEATURE, &no_cookies, sizeof no_cookies))
      return failed(HttpPhase::Cookies);
  }
  // With the caller's own cookies the platform's cookie handling stays as it is: the Cookie line of
  // the header block is what goes out.
  if (request.no_redirect) {
    DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(h.request, WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects, sizeof no_redirects))
      return failed(HttpPhase::Redirect);
  }
  const std::wstring headers = to_wide(request.headers);
  if (!headers.empty() && !WinHttpAddRequestHeaders(h.request, headers.c_str(), static_cast<DWORD>(headers.size()),
                                                    WINHTTP_ADDREQ_FLAG_ADD))
    return failed(HttpPhase::Headers);

  const DWORD body_length = static_cast<DWORD>(request.body.size());
  clock.entering(static_cast<int>(HttpPhase::Send));
  if (!WinHttpSendRequest(h.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          body_length ? const_cast<char*>(request.body.data()) : WINHTTP_NO_REQUEST_DATA, body_length,
                          body_length, 0))
    return failed(HttpPhase::Send);
  clock.entering(static_cast<int>(HttpPhase::Receive));
  if (!WinHttpReceiveResponse(h.request, nullptr))
    return failed(GetLastError() == ERROR_WINHTTP_HEADER_SIZE_OVERFLOW ? HttpPhase::HeadersTooLarge
                                                                       : HttpPhase::Receive);
  if (!answered_on_the_web(h.request)) return failed(HttpPhase::Redirect);

  HttpTransportResult result;
  for (;;) {
    DWORD available = 0;
    clock.entering(static_cast<int>(HttpPhase::Receive));
    if (!WinHttpQueryDataAvailable(h.request, &available) || available < 1) break;
    if (available > request.max_body_bytes - result.body.size()) return failed(HttpPhase::BodyTooLarge);
    std::vector<char> buffer(available);
    DWORD read = 0;
    clock.entering(static_cast<int>(HttpPhase::Receive));
    if (!WinHttpReadData(h.request, buffer.data(), available, &read)) {
      result.read_failed = true;
      break;
    }
    result.body.append(buffer.data(), read);
  }

  DWORD size = 0;
  WinHttpQueryHeaders(h.request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                      WINHTTP_NO_HEADER_INDEX);
  std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
  DWORD bytes = static_cast<DWORD>(raw.size() * sizeof(wchar_t));
  if (size == 0 || !WinHttpQueryHeaders(h.request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                                        raw.data(), &bytes, WINHTTP_NO_HEADER_INDEX)) {
    HttpTransportResult none = failed(HttpPhase::HeaderQuery);
    none.read_failed = result.read_failed;
    return none;
  }
  raw.resize(bytes / sizeof(wchar_t));
  result.raw_headers = from_wide(raw);
  if (result.raw_headers.size() > request.max_header_bytes) return failed(HttpPhase::HeadersTooLarge);
  return result;
}

}  // namespace

HttpTransportResult http_transport_send(const HttpTransportRequest& request) {
  if (!WinHttpCheckPlatform()) return failed(HttpPhase::Platform);
  // A wait that outlives its timeout is reported as the phase it was stuck in; nothing of what
  // the abandoned exchange read is kept.
  auto watched = run_watched([request](CallClock& clock) { return exchange(request, clock); }, request.timeout_ms);
  if (!watched.result) return failed(static_cast<HttpPhase>(watched.stuck_phase));
  return std::move(*watched.result);
}

}  // namespace qz::platform
