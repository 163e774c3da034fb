#include "watch/room_identity.h"

#include <algorithm>
#include <vector>

#include "app/text_util.h"
#include "app/web_address.h"

namespace qz::watch {
namespace {

// Parameters that say who shared the link, when and from where, never which room it is.
bool is_tracking_parameter(std::string_view key) {
  static constexpr std::string_view kExact[] = {
      "from", "timestamp", "ts", "_t", "t", "sign", "signature", "spm", "scene", "source",
      "share", "sharer", "is_share", "enter_from", "enter_method", "u_code", "did", "iid",
      "sec_uid", "ug_source", "share_token", "share_link_id", "share_id", "share_from",
  };
  const std::string lower = app::ascii_lower(key);
  if (lower.starts_with("utm_") || lower.starts_with("share_") || lower.starts_with("from_"))
    return true;
  return std::find(std::begin(kExact), std::end(kExact), lower) != std::end(kExact);
}

std::string_view host_without_site_prefix(std::string_view host) {
  for (std::string_view prefix : {"www.", "m."})
    if (host.starts_with(prefix) && host.size() > prefix.size()) return host.substr(prefix.size());
  return host;
}

std::string kept_query(std::string_view query) {
  std::vector<std::string_view> kept;
  while (!query.empty()) {
    const std::size_t amp = std::min(query.find('&'), query.size());
    const std::string_view pair = query.substr(0, amp);
    query.remove_prefix(std::min(amp + 1, query.size()));
    if (pair.empty()) continue;
    if (!is_tracking_parameter(pair.substr(0, pair.find('=')))) kept.push_back(pair);
  }
  std::sort(kept.begin(), kept.end());
  std::string out;
  for (std::string_view pair : kept) out += (out.empty() ? "" : "&") + std::string(pair);
  return out;
}

bool is_link_end(unsigned char c) {
  return c <= ' ' || c >= 0x7F || c == '"' || c == '\'' || c == '<' || c == '>';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

std::string room_identity(std::string_view link) {
  const auto address = app::parse_web_address(trimmed(link));
  if (!address) return {};
  const int own_port = address->scheme == "https" ? 443 : 80;
  std::string identity(host_without_site_prefix(address->host));
  if (address->port != own_port) identity += ":" + std::to_string(address->port);

  std::string_view rest = address->rest;
  rest = rest.substr(0, rest.find('#'));
  const std::size_t question = rest.find('?');
  std::string_view path = rest.substr(0, question);
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  identity += std::string(path);
  if (question != std::string_view::npos) {
    if (const std::string query = kept_query(rest.substr(question + 1)); !query.empty())
      identity += "?" + query;
  }
  return identity;
}

std::string link_in_text(std::string_view text) {
  std::size_t start = std::string_view::npos;
  for (std::string_view scheme : {"https://", "http://"}) {
    const std::size_t at = text.find(scheme);
    if (at != std::string_view::npos && at < start) start = at;
  }
  if (start == std::string_view::npos) return std::string(trimmed(text));
  std::size_t end = start;
  while (end < text.size() && !is_link_end(static_cast<unsigned char>(text[end]))) ++end;
  return std::string(text.substr(start, end - start));
}

}  // namespace qz::watch
