#include "platform/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>

namespace qz::platform {

struct Sha256Digest::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool failed = false;
};

Sha256Digest::Sha256Digest() : state_(std::make_unique<State>()) {
  // Windows 7 and later keep the hash object themselves when given no buffer for it.
  state_->failed = BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0 ||
                   BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0) != 0;
}

Sha256Digest::~Sha256Digest() {
  if (state_->hash) BCryptDestroyHash(state_->hash);
  if (state_->algorithm) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

void Sha256Digest::update(std::string_view bytes) {
  // BCryptHashData takes a ULONG length: feed a large piece in parts.
  while (!state_->failed && !bytes.empty()) {
    const ULONG n = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
    state_->failed = BCryptHashData(state_->hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())), n, 0) != 0;
    bytes.remove_prefix(n);
  }
}

std::string Sha256Digest::finish() {
  if (state_->failed) return {};
  std::string digest(32, '\0');
  state_->failed = true;  // used up
  if (BCryptFinishHash(state_->hash, reinterpret_cast<PUCHAR>(digest.data()), 32, 0) != 0) return {};
  return digest;
}

}  // namespace qz::platform
