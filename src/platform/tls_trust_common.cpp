#include "platform/tls_trust.h"

#include <mutex>

namespace qz::platform {
namespace {

std::mutex g_lock;  // the setting is written at start and read by download threads
std::string& ca_file() {
  static auto* file = new std::string();
  return *file;
}

}  // namespace

void set_extra_ca_file(const std::string& pem_file) {
  std::lock_guard guard(g_lock);
  ca_file() = pem_file;
}

std::string extra_ca_file() {
  std::lock_guard guard(g_lock);
  return ca_file();
}

}  // namespace qz::platform
