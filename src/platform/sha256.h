#pragma once
// SHA-256 from the system's own cryptography (CNG on Windows, OpenSSL's libcrypto on Linux), so
// the check that decides whether a downloaded program may run is the system's, not ours.
#include <memory>
#include <string>
#include <string_view>

namespace qz::platform {

class Sha256Digest {
 public:
  Sha256Digest();
  ~Sha256Digest();
  Sha256Digest(const Sha256Digest&) = delete;
  Sha256Digest& operator=(const Sha256Digest&) = delete;

  void update(std::string_view bytes);
  // The 32 bytes of the digest, or empty when the system could not give one (which no announced
  // digest matches). The object is used up afterwards.
  std::string finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qz::platform
