#include "platform/text_codec.h"

#include <iconv.h>

#include <cerrno>

namespace qz::platform {
namespace {

// Converts with iconv; an invalid input byte is replaced by `bad` and skipped.
std::optional<std::string> convert(std::string_view in, const char* from, const char* to,
                                   std::string_view bad) {
  const bool from_utf8 = std::string_view(from) == "UTF-8";
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  out.reserve(in.size() * 2);
  char buffer[4096];
  char* src = const_cast<char*>(in.data());
  std::size_t left = in.size();
  while (left > 0) {
    char* dst = buffer;
    std::size_t room = sizeof buffer;
    const std::size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buffer, dst - buffer);
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (truncated sequence at the end): skip one byte.
      out += bad;
      ++src;
      --left;
      // From UTF-8, one replacement stands for the whole character, not each of its bytes.
      while (from_utf8 && left > 0 && (static_cast<unsigned char>(*src) & 0xC0) == 0x80) {
        ++src;
        --left;
      }
    }
  }
  char* dst = buffer;
  std::size_t room = sizeof buffer;
  iconv(cd, nullptr, nullptr, &dst, &room);
  out.append(buffer, dst - buffer);
  iconv_close(cd);
  return out;
}

}  // namespace

std::string utf8_to_gbk(std::string_view utf8) {
  return convert(utf8, "UTF-8", "GBK", "?").value_or(std::string());
}

std::string gbk_to_utf8(std::string_view gbk) {
  return convert(gbk, "GBK", "UTF-8", "\xEF\xBF\xBD").value_or(std::string());
}

std::optional<std::string> charset_to_utf8(std::string_view bytes, std::string_view charset) {
  const std::string name(charset);
  return convert(bytes, name.c_str(), "UTF-8", "\xEF\xBF\xBD");
}

}  // namespace qz::platform
