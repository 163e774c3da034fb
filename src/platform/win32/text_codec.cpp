#include "platform/text_codec.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

#include "platform/win32/wide.h"

namespace qz::platform {
namespace {

std::wstring decode(std::string_view bytes, UINT code_page) {
  if (bytes.empty()) return {};
  const int n = MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()),
                                    nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

std::string encode(std::wstring_view wide, UINT code_page) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::optional<UINT> code_page_of(std::string_view charset) {
  std::string name(charset);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  struct Known { const char* name; UINT cp; };
  static const Known known[] = {
      {"utf-8", CP_UTF8}, {"utf8", CP_UTF8}, {"gbk", 936}, {"gb2312", 936}, {"cp936", 936},
      {"gb18030", 54936}, {"big5", 950}, {"shift_jis", 932}, {"euc-kr", 949},
      {"iso-8859-1", 28591}, {"latin1", 28591}, {"windows-1252", 1252}, {"us-ascii", 20127},
      {"euc-jp", 20932}, {"koi8-r", 20866}, {"windows-1251", 1251},
  };
  for (const Known& k : known)
    if (name == k.name) return k.cp;
  return std::nullopt;
}

}  // namespace

std::wstring to_wide(std::string_view utf8) { return decode(utf8, CP_UTF8); }
std::string from_wide(std::wstring_view wide) { return encode(wide, CP_UTF8); }

std::string utf8_to_gbk(std::string_view utf8) { return encode(decode(utf8, CP_UTF8), 936); }
std::string gbk_to_utf8(std::string_view gbk) { return encode(decode(gbk, 936), CP_UTF8); }

std::optional<std::string> charset_to_utf8(std::string_view bytes, std::string_view charset) {
  const auto cp = code_page_of(charset);
  if (!cp) return std::nullopt;
  return encode(decode(bytes, *cp), CP_UTF8);
}

}  // namespace qz::platform
