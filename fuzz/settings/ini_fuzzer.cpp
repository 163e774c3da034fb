// Any bytes as a settings file, with a section, key and value cut from the input: reading and
// writing must never crash, and a value written must be the value read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/ini_file.h"

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

// What the settings code writes: one line, no surrounding blanks, and a name free of the
// characters that end it ("]" for a section, "=" for a key).
bool writable(std::string_view text, std::string_view forbidden) {
  if (!text.empty() && (blank(text.front()) || blank(text.back()))) return false;
  for (char c : text)
    if (c == '\r' || c == '\n' || forbidden.find(c) != std::string_view::npos) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // "section\0key\0value\0ini text"
  std::string_view parts[3];
  for (std::string_view& part : parts) {
    const std::size_t nul = input.find('\0');
    if (nul == std::string_view::npos) return 0;
    part = input.substr(0, nul);
    input.remove_prefix(nul + 1);
  }
  const std::string_view section = parts[0], key = parts[1], value = parts[2], ini = input;

  qz::app::ini_get(ini, section, key);
  const std::string written = qz::app::ini_set(ini, section, key, value);

  const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
  if (!writable(section, "]") || !writable(key, "=") || key.empty() || key.front() == '[' ||
      !writable(value, "") || quoted)
    return 0;
  const auto read = qz::app::ini_get(written, section, key);
  if (!read || *read != value) std::abort();
  // Writing the same value again changes nothing.
  if (qz::app::ini_set(written, section, key, value) != written) std::abort();
  return 0;
}
