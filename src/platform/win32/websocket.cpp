#include "platform/websocket.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/win32/wide.h"

namespace qz::platform {

namespace {

struct Handle {
  HINTERNET h = nullptr;
  Handle() = default;
  explicit Handle(HINTERNET handle) : h(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }
  void reset() {
    if (h) WinHttpCloseHandle(h);
    h = nullptr;
  }
  explicit operator bool() const { return h != nullptr; }
};

std::string last_error_text(const char* what) { return std::string(what) + " failed (" + std::to_string(GetLastError()) + ")"; }

// An upgraded or plain GET request on `connection`, response received.
HINTERNET open_get(HINTERNET connection, const std::string& path, bool upgrade, std::string* error) {
  const std::wstring wpath = to_wide(path);
  HINTERNET request = WinHttpOpenRequest(connection, L"GET", wpath.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
  if (!request) {
    if (error) *error = last_error_text("WinHttpOpenRequest");
    return nullptr;
  }
  if ((upgrade && !WinHttpSetOption(request, WINHTTP_OPTION_UPGRADE_TO_WEB_SOCKET, nullptr, 0)) ||
      !WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, nullptr)) {
    if (error) *error = last_error_text("the request to the debugging endpoint");
    WinHttpCloseHandle(request);
    return nullptr;
  }
  return request;
}

DWORD status_code(HINTERNET request) {
  DWORD status = 0, size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &size, WINHTTP_NO_HEADER_INDEX);
  return status;
}

}  // namespace

// WinHTTP allows one send and one receive outstanding at the same time: the reader thread
// receives, senders take turns under send_mutex.
struct WebSocket::Impl {
  Handle session, connection, socket;
  WebSocketHandlers handlers;
  std::atomic<bool> open{false};
  std::thread reader;
  std::mutex send_mutex;
  std::mutex close_mutex;

  void read_loop() {
    std::vector<char> buffer(64 * 1024);
    std::string message;
    std::string head;            // first bytes of a message over the cap, which is dropped
    std::size_t dropped = 0;     // its length so far
    bool dropping = false;
    bool out_of_memory = false;  // why it is dropped
    for (;;) {
      DWORD got = 0;
      WINHTTP_WEB_SOCKET_BUFFER_TYPE type {};
      const DWORD rc = WinHttpWebSocketReceive(socket.h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, &type);
      if (rc == ERROR_WINHTTP_TIMEOUT && open) continue;
      if (rc != NO_ERROR || type == WINHTTP_WEB_SOCKET_CLOSE_BUFFER_TYPE) break;
      if (!dropping && message.size() + got > handlers.max_message) {
        head = message.substr(0, 256);
        if (head.size() < 256) head.append(buffer.data(), std::min<std::size_t>(got, 256 - head.size()));
        dropping = true;
      }
      if (!dropping) {
        try {
          message.append(buffer.data(), got);
        } catch (const std::bad_alloc&) {
          // The program goes on without this message; the rest of it is skipped as it comes.
          head.clear();
          dropping = out_of_memory = true;
        }
      }
      if (dropping && dropped == 0) {
        dropped = message.size();
        std::string().swap(message);
      }
      if (dropping) dropped += got;
      if (type == WINHTTP_WEB_SOCKET_UTF8_MESSAGE_BUFFER_TYPE || type == WINHTTP_WEB_SOCKET_BINARY_MESSAGE_BUFFER_TYPE) {
        if (dropping && out_of_memory) {
          if (handlers.on_problem)
            handlers.on_problem("browser message of " + std::to_string(dropped) + " bytes dropped (out of memory)");
        } else if (dropping) {
          if (handlers.on_oversized) handlers.on_oversized(head, dropped);
        } else if (handlers.on_message) {
          handlers.on_message(std::move(message));
        }
        message.clear();
        dropped = 0;
        dropping = out_of_memory = false;
      }
    }
    open = false;
    if (handlers.on_closed) handlers.on_closed();
  }
};

WebSocket::WebSocket(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

WebSocket::~WebSocket() { close(); }

std::unique_ptr<WebSocket> WebSocket::connect(const std::string& host, int port, const std::string& path,
                                              WebSocketHandlers handlers, std::string* error,
                                              int timeout_ms) {
  auto impl = std::make_unique<Impl>();
  impl->handlers = std::move(handlers);
  impl->session.h = WinHttpOpen(L"qiongzhi", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0);
  if (!impl->session) {
    if (error) *error = last_error_text("WinHttpOpen");
    return nullptr;
  }
  WinHttpSetTimeouts(impl->session.h, timeout_ms, timeout_ms, timeout_ms, timeout_ms);
  impl->connection.h = WinHttpConnect(impl->session.h, to_wide(host).c_str(), static_cast<INTERNET_PORT>(port), 0);
  if (!impl->connection) {
    if (error) *error = last_error_text("WinHttpConnect");
    return nullptr;
  }
  Handle request(open_get(impl->connection.h, path, true, error));
  if (!request) return nullptr;
  if (status_code(request.h) != 101) {
    if (error) *error = "the debugging endpoint refused the WebSocket upgrade";
    return nullptr;
  }
  impl->socket.h = WinHttpWebSocketCompleteUpgrade(request.h, 0);
  if (!impl->socket) {
    if (error) *error = last_error_text("WinHttpWebSocketCompleteUpgrade");
    return nullptr;
  }
  request.reset();
  // Messages may be minutes apart: a receive that times out is simply repeated.
  impl->open = true;
  Impl* s = impl.get();
  impl->reader = std::thread([s] { s->read_loop(); });
  return std::make_unique<WebSocket>(std::move(impl));
}

bool WebSocket::send(std::string text) {
  if (!impl_ || !impl_->open) return false;
  std::lock_guard lock(impl_->send_mutex);
  if (!impl_->open) return false;
  const DWORD rc = WinHttpWebSocketSend(impl_->socket.h, WINHTTP_WEB_SOCKET_UTF8_MESSAGE_BUFFER_TYPE,
                                        text.data(), static_cast<DWORD>(text.size()));
  return rc == NO_ERROR;
}

bool WebSocket::is_open() const { return impl_ && impl_->open; }

void WebSocket::close() {
  if (!impl_) return;
  std::lock_guard lock(impl_->close_mutex);
  if (!impl_->reader.joinable()) return;
  {
    std::lock_guard send(impl_->send_mutex);
    impl_->open = false;
    // Closing the handle cancels the reader's pending receive.
    WinHttpWebSocketShutdown(impl_->socket.h, WINHTTP_WEB_SOCKET_SUCCESS_CLOSE_STATUS, nullptr, 0);
    WinHttpCloseHandle(impl_->socket.h);
  }
  impl_->reader.join();
  impl_->socket.h = nullptr;
  impl_->connection.reset();
  impl_->session.reset();
}

std::optional<std::string> http_get(const std::string& host, int port, const std::string& path, int timeout_ms) {
  Handle session(WinHttpOpen(L"qiongzhi", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return std::nullopt;
  WinHttpSetTimeouts(session.h, timeout_ms, timeout_ms, timeout_ms, timeout_ms);
  Handle connection(WinHttpConnect(session.h, to_wide(host).c_str(), static_cast<INTERNET_PORT>(port), 0));
  if (!connection) return std::nullopt;
  Handle request(open_get(connection.h, path, false, nullptr));
  if (!request || status_code(request.h) != 200) return std::nullopt;
  std::string body;
  for (;;) {
    char buffer[8192];
    DWORD got = 0;
    if (!WinHttpReadData(request.h, buffer, sizeof buffer, &got)) return std::nullopt;
    if (got == 0) break;
    body.append(buffer, got);
  }
  return body;
}

}  // namespace qz::platform
