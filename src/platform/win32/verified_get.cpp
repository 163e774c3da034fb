#include "platform/verified_get.h"

#include <windows.h>
#include <winhttp.h>

#include <memory>

#include "platform/win32/watched_exchange.h"
#include "platform/win32/wide.h"

namespace qz::platform {
namespace {

struct InternetHandle {
  HINTERNET h = nullptr;
  explicit InternetHandle(HINTERNET handle) : h(handle) {}
  ~InternetHandle() {
    if (h) WinHttpCloseHandle(h);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
};

// The address the answer finally came from, after the redirects WinHTTP followed.
std::wstring final_address(HINTERNET request) {
  std::wstring url(2048, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD bytes = static_cast<DWORD>(url.size() * sizeof(wchar_t));
    if (WinHttpQueryOption(request, WINHTTP_OPTION_URL, url.data(), &bytes)) {
      url.resize(wcsnlen(url.c_str(), url.size()));
      return url;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    url.assign(bytes / sizeof(wchar_t) + 1, L'\0');
  }
  return {};
}

VerifiedGetResult get_verified(const std::string& url, std::size_t max_body_bytes, int timeout_ms, CallClock& clock) {
  VerifiedGetResult result;
  std::wstring wide_url = to_wide(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(wide_url.c_str(), 0, 0, &parts)) return result;
  if (parts.nScheme != INTERNET_SCHEME_HTTPS) return result;
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
  object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (object.empty()) object = L"/";

  InternetHandle session(WinHttpOpen(L"Mozilla/5.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.h) return result;
  WinHttpSetTimeouts(session.h, timeout_ms, timeout_ms, timeout_ms, timeout_ms);
  // Redirects are followed, never from https down to http; no security flag is relaxed, so a
  // certificate that does not check out fails the send.
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  WinHttpSetOption(session.h, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  DWORD max_redirects = 5;
  WinHttpSetOption(session.h, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &max_redirects,
                   sizeof max_redirects);
  InternetHandle connection(WinHttpConnect(session.h, host.c_str(), parts.nPort, 0));
  if (!connection.h) return result;
  InternetHandle request(WinHttpOpenRequest(
      connection.h, L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
      WINHTTP_FLAG_SECURE));
  if (!request.h) return result;
  // The wait for the answer's headers has a timeout of its own (90 s by default; none at all in
  // Wine's WinHTTP, which also waits for the TLS handshake under it).
  DWORD response_timeout = static_cast<DWORD>(timeout_ms);
  WinHttpSetOption(request.h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout, sizeof response_timeout);
  DWORD max_headers = 65536;
  WinHttpSetOption(request.h, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &max_headers, sizeof max_headers);
  clock.entering(0);
  if (!WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) return result;
  clock.entering(0);
  if (!WinHttpReceiveResponse(request.h, nullptr)) return result;
  // The redirect policy already forbids leaving https; this holds even where a WinHTTP does not
  // honour it (one that cannot tell the final address relies on the policy).
  if (const std::wstring final_url = final_address(request.h); !final_url.empty() && !is_https_address(from_wide(final_url)))
    return result;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return result;
  std::string body;
  char buffer[16384];
  for (;;) {
    DWORD got = 0;
    clock.entering(0);
    if (!WinHttpReadData(request.h, buffer, sizeof buffer, &got)) return result;
    if (got == 0) break;
    if (got > max_body_bytes - body.size()) {
      result.too_large = true;
      return result;
    }
    body.append(buffer, got);
  }
  result.ok = true;
  result.status = static_cast<int>(status);
  result.body = std::move(body);
  return result;
}

}  // namespace

VerifiedGetResult verified_get(const std::string& url, std::size_t max_body_bytes, int timeout_ms) {
  if (!is_https_address(url)) return {};
  auto watched = run_watched(
      [url, max_body_bytes, timeout_ms](CallClock& clock) { return get_verified(url, max_body_bytes, timeout_ms, clock); },
      timeout_ms);
  return watched.result ? std::move(*watched.result) : VerifiedGetResult{};
}

}  // namespace qz::platform
