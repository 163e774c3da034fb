#pragma once
// SHA-256 of a byte string, for checking a downloaded program (a tool, an update) against the
// digest its server announces.
#include <string>
#include <string_view>

namespace qz::net {

class Sha256 {
 public:
  Sha256();
  void update(std::string_view bytes);
  // Lower-case hex of the digest; the object is used up afterwards.
  std::string hex_digest();

 private:
  void block(const unsigned char* p);
  unsigned state_[8];
  unsigned char buffer_[64];
  std::size_t buffered_ = 0;
  unsigned long long length_ = 0;
};

std::string sha256_hex(std::string_view bytes);
// The digest of a file read in pieces; empty when it cannot be read.
std::string sha256_of_file(const std::string& path);
// A digest as a server writes it: 64 hex digits, optionally followed by blanks and a file name
// (the sha256sum form). Lower-case hex, or empty when the text holds no such digest.
std::string parse_sha256_text(std::string_view text);

}  // namespace qz::net
