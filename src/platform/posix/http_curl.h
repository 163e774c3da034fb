#pragma once
// libcurl's global set-up, done once before the first transfer of any thread.
#include <curl/curl.h>

#include <mutex>

namespace qz::platform {

inline void curl_global_once() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

}  // namespace qz::platform
