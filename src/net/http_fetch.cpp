#include "net/http_fetch.h"

#include "net/http_message.h"
#include "platform/http_transport.h"
#include "platform/text_codec.h"

namespace qz::net {
namespace {

const char* failure_text(platform::HttpPhase phase) {
  using platform::HttpPhase;
  switch (phase) {
    case HttpPhase::Platform: return "700 当前系统不支持WinHttp服务!";
    case HttpPhase::Open: return "702 创建WinHttp会话失败!";
    case HttpPhase::Connect: return "703 创建WinHttp连接失败!";
    case HttpPhase::Request: return "704 创建WinHttp请求失败!";
    case HttpPhase::Timeouts: return "705 设置超时时间失败!";
    case HttpPhase::Credentials: return "707 设置代理凭证失败!";
    case HttpPhase::SecurityFlags: return "忽略错误/证书错误  失败！";
    case HttpPhase::Cookies: return "708 禁止自动设置Cookies失败!";
    case HttpPhase::Redirect: return "709 重定向设置失败!";
    case HttpPhase::Headers: return "710 设置协议头失败!";
    case HttpPhase::Send: return "711 发送请求失败!";
    case HttpPhase::Receive: return "712 服务器未响应!";
    case HttpPhase::BodyTooLarge: return kBodyTooLargeText;
    case HttpPhase::HeadersTooLarge: return kHeadersTooLargeText;
    default: return "";
  }
}

int set_cookie_lines(std::string_view headers) {
  int count = 0;
  for (std::size_t at = headers.find("\r\nSet-Cookie:"); at != std::string_view::npos;
       at = headers.find("\r\nSet-Cookie:", at + 2))
    ++count;
  return count;
}

}  // namespace

HttpFetchResponse HttpFetch(const HttpFetchRequest& request) {
  HttpFetchResponse response;
  HttpFetch(request, response);
  return response;
}

std::string HttpFetch(const HttpFetchRequest& request, HttpFetchResponse& response) {
  response.text.clear();
  response.response_headers.clear();
  response.location.clear();
  response.status.clear();
  response.body.clear();

  const std::optional<SplitUrl> url = split_url(request.url);
  if (!url) {
    response.status = "701 解析URL地址失败!";
    return {};
  }
  platform::HttpTransportRequest out;
  out.secure = url->secure;
  out.host = url->host;
  out.port = url->port;
  out.object_path = url->object_path;
  out.method = method_name(request.method);
  out.headers = build_header_block(request);
  out.body = !request.body_bytes.empty() ? request.body_bytes : platform::utf8_to_gbk(request.body_text);
  out.timeout_ms = timeout_ms(request.timeout_seconds);
  out.no_redirect = request.no_redirect;
  out.max_body_bytes = request.max_body_bytes;
  out.cookies_given = !request.cookies.empty();
  if (!request.user.empty() && !request.password.empty()) {
    out.user = request.user;
    out.password = request.password;
  }
  out.proxy = request.proxy;
  if (!request.proxy_user.empty() && !request.proxy_password.empty()) {
    out.proxy_user = request.proxy_user;
    out.proxy_password = request.proxy_password;
  }

  platform::HttpTransportResult result = platform::http_transport_send(out);
  if (result.failure == platform::HttpPhase::HeaderQuery) {
    // The headers could not be read: the exchange gives nothing, the body included.
    if (result.read_failed) response.status = "713 读取数据失败!";
    return {};
  }
  if (result.failure != platform::HttpPhase::Ok) {
    response.status = failure_text(result.failure);
    return {};
  }
  if (set_cookie_lines(result.raw_headers) > kMaxSetCookies) {
    response.status = kHeadersTooLargeText;
    return {};
  }
  response.response_headers = std::move(result.raw_headers);
  response.status = status_text(response.response_headers);
  read_response_headers(response.response_headers, response.set_cookies, response.location);
  if (response.set_cookies.size() >= 2 && response.set_cookies.compare(response.set_cookies.size() - 2, 2, "; ") == 0)
    response.set_cookies.resize(response.set_cookies.size() - 2);
  if (request.merge_cookies && !request.cookies.empty())
    response.set_cookies = merge_cookie_text(request.cookies, response.set_cookies);
  response.body = std::move(result.body);
  response.text = decode_body(response.body);
  return response.text;
}

}  // namespace qz::net
