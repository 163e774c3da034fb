#pragma once
// SHA-256 of a byte string, for checking a downloaded program against the digest its update index
// announces.
#include <string>
#include <string_view>

namespace qz::notices {

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

}  // namespace qz::notices
