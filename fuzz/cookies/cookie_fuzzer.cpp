// Any bytes as a response's header block and a sent cookie text: gathering the Set-Cookie lines
// and merging them with the sent cookies must never crash, and the merged text holds together.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "net/http_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // "sent cookies\0response headers"
  const std::size_t nul = input.find('\0');
  const std::string sent(input.substr(0, nul));
  const std::string_view headers = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  std::string received, location;
  qz::net::read_response_headers(headers, received, location);
  const std::string merged = qz::net::merge_cookie_text(sent, received);

  // No deleted cookie and no item twice.
  std::set<std::string> items;
  for (std::size_t start = 0; start < merged.size();) {
    std::size_t end = merged.find("; ", start);
    if (end == std::string::npos) end = merged.size();
    const std::string item = merged.substr(start, end - start);
    if (item.size() >= 8 && item.compare(item.size() - 8, 8, "=deleted") == 0) std::abort();
    if (!items.insert(item).second) std::abort();
    start = end + 2;
  }
  return 0;
}
