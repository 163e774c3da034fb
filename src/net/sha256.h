#pragma once
// SHA-256 of a byte string, for checking a downloaded program (a tool, an update) against the
// digest its server announces.
#include <string>
#include <string_view>

#include "platform/sha256.h"

namespace qz::net {

// The system's digest, in the hex form servers announce.
class Sha256 {
 public:
  void update(std::string_view bytes) { digest_.update(bytes); }
  // Lower-case hex of the digest, or empty when the system gave none; the object is used up
  // afterwards.
  std::string hex_digest();

 private:
  platform::Sha256Digest digest_;
};

std::string sha256_hex(std::string_view bytes);
// The digest of a file read in pieces; empty when it cannot be read.
std::string sha256_of_file(const std::string& path);
// A digest as a server writes it: 64 hex digits, optionally followed by blanks and a file name
// (the sha256sum form). Lower-case hex, or empty when the text holds no such digest.
std::string parse_sha256_text(std::string_view text);

}  // namespace qz::net
