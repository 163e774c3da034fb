#include "watch/shard.h"

#include <charconv>

namespace qz::watch {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::optional<int> whole_number(std::string_view text) {
  text = trimmed(text);
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::uint64_t stable_hash(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::optional<Shard> parse_shard(std::string_view text, std::string& error) {
  text = trimmed(text);
  if (text.empty()) return Shard{};
  const std::size_t slash = text.find('/');
  const auto index = slash == std::string_view::npos ? std::nullopt : whole_number(text.substr(0, slash));
  const auto count = slash == std::string_view::npos ? std::nullopt : whole_number(text.substr(slash + 1));
  if (!index || !count) {
    error = "分片应写成 K/N（如 0/3：共 3 份，这是第 0 份）：" + std::string(text);
    return std::nullopt;
  }
  if (*count < 1 || *index < 0 || *index >= *count) {
    error = "分片 " + std::string(text) + " 不成立：N 至少为 1，K 从 0 到 N-1";
    return std::nullopt;
  }
  return Shard{*index, *count};
}

bool in_shard(std::string_view identity, const Shard& shard) {
  if (shard.count <= 1) return true;
  return stable_hash(identity) % static_cast<std::uint64_t>(shard.count) ==
         static_cast<std::uint64_t>(shard.index);
}

}  // namespace qz::watch
