#include "net/sha256.h"

#include <algorithm>
#include <cstdint>

#include "platform/fs.h"

namespace qz::net {

std::string Sha256::hex_digest() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char byte : digest_.finish()) {
    out += kHex[byte >> 4];
    out += kHex[byte & 0xf];
  }
  return out;
}

std::string sha256_hex(std::string_view bytes) {
  Sha256 h;
  h.update(bytes);
  return h.hex_digest();
}

std::string sha256_of_file(const std::string& path) {
  platform::File file;
  if (!file.open(path, platform::File::Mode::ReadWriteExisting)) return {};
  const auto size = file.size();
  if (!size) return {};
  Sha256 h;
  std::string chunk(65536, '\0');
  for (std::uint64_t offset = 0; offset < *size;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), *size - offset));
    if (!file.read_at(offset, chunk.data(), n)) return {};
    h.update(std::string_view(chunk.data(), n));
    offset += n;
  }
  return h.hex_digest();
}

std::string parse_sha256_text(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  if (text.size() < 64 || (text.size() > 64 && !blank(text[64]))) return {};
  std::string digest;
  for (char c : text.substr(0, 64)) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return {};
    digest += c;
  }
  return digest;
}

}  // namespace qz::net
