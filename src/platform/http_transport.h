#pragma once
// One HTTP exchange for HttpFetch: WinHTTP on Windows, libcurl elsewhere. The caller has already
// split the address and built the header block; the transport sends them as given and reports in
// which phase it failed, so the caller can name the failure.
#include <cstddef>
#include <string>

namespace qz::platform {

enum class HttpPhase {
  Ok,
  Platform,       // the HTTP service is not available on this system
  Open,           // session
  Timeouts,
  Connect,        // connection object
  Request,        // request object
  Credentials,    // server or proxy credentials refused
  SecurityFlags,  // certificate errors could not be ignored
  Cookies,        // cookie option refused
  Redirect,       // redirect option refused
  Headers,        // header block refused
  Send,           // sending failed (this includes not reaching the server)
  Receive,        // no response
  HeaderQuery,    // the response headers could not be read
  BodyTooLarge,   // the body passed max_body_bytes; nothing of it is kept
  HeadersTooLarge,  // the header block passed max_header_bytes
};

inline constexpr std::size_t kDefaultMaxHeaderBytes = 65536;

struct HttpTransportRequest {
  bool secure = false;      // https
  std::string host;         // as in the address, "[::1]" style for IPv6
  int port = 80;
  std::string object_path;  // path and query, "/" at least
  std::string method;       // "GET", "POST", ...
  std::string headers;      // UTF-8 header lines joined by "\r\n" (no trailing line break needed)
  std::string body;         // bytes to send
  int timeout_ms = 30000;   // resolve, connect, send and receive, each
  bool no_redirect = false;
  bool cookies_given = false;  // the caller sends its own Cookie line
  std::string user, password;  // applied only when both are non-empty
  std::string proxy;           // "host:port", empty = direct
  std::string proxy_user, proxy_password;  // applied only when both are non-empty
  // The answer is refused, never stored whole, past these sizes: a hostile or broken server
  // cannot make the program allocate without end.
  std::size_t max_body_bytes = 16 * 1048576;
  std::size_t max_header_bytes = kDefaultMaxHeaderBytes;
};

struct HttpTransportResult {
  HttpPhase failure = HttpPhase::Ok;
  bool read_failed = false;  // the body was cut short by a failed read; what came is in body
  std::string body;
  std::string raw_headers;   // UTF-8: status line, then header lines, "\r\n" separated, of the last response
};

HttpTransportResult http_transport_send(const HttpTransportRequest& request);

}  // namespace qz::platform
