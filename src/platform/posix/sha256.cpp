#include "platform/sha256.h"

#include <openssl/evp.h>

namespace qz::platform {

struct Sha256Digest::State {
  EVP_MD_CTX* context = nullptr;
  bool failed = false;
};

Sha256Digest::Sha256Digest() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  state_->failed = !state_->context || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1;
}

Sha256Digest::~Sha256Digest() { EVP_MD_CTX_free(state_->context); }

void Sha256Digest::update(std::string_view bytes) {
  if (state_->failed || bytes.empty()) return;
  state_->failed = EVP_DigestUpdate(state_->context, bytes.data(), bytes.size()) != 1;
}

std::string Sha256Digest::finish() {
  if (state_->failed) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  state_->failed = true;  // used up
  if (EVP_DigestFinal_ex(state_->context, digest, &size) != 1 || size != 32) return {};
  return std::string(reinterpret_cast<const char*>(digest), size);
}

}  // namespace qz::platform
