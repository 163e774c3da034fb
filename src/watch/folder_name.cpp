#include "watch/folder_name.h"

#include <optional>
#include <vector>

#include "app/text_util.h"

namespace qz::watch {
namespace {

// One UTF-8 character: its code point and its bytes.
struct Character {
  char32_t code = 0;
  std::string_view bytes;
};

// The next character at the start of `text`, or nothing (and one byte used up) for bytes that are
// no well-formed UTF-8.
std::optional<Character> next_character(std::string_view& text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3
                       : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
  if (length == 0 || length > text.size()) {
    text.remove_prefix(1);
    return std::nullopt;
  }
  char32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0) != 0x80) {
      text.remove_prefix(1);
      return std::nullopt;
    }
    code = (code << 6) | (next & 0x3F);
  }
  static constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool well_formed = code >= kShortest[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
  Character c{code, text.substr(0, length)};
  text.remove_prefix(length);
  if (!well_formed) return std::nullopt;
  return c;
}

bool is_forbidden(char32_t c) {
  return c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
         c == '>' || c == '|';
}

bool is_control(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// Characters that belong to the one before them on screen: a cut before one of these would leave
// half a character (an accent without its letter, an emoji without its skin tone or its joined
// partner).
bool continues_previous(char32_t c) {
  return (c >= 0x0300 && c <= 0x036F) || c == 0x200D || (c >= 0xFE00 && c <= 0xFE0F) ||
         (c >= 0x1F3FB && c <= 0x1F3FF) || (c >= 0xE0020 && c <= 0xE007F) || c == 0x20E3;
}

bool is_blank(char32_t c) { return c == ' ' || c == 0x3000 || c == 0xA0; }

std::vector<Character> cleaned_characters(std::string_view name) {
  std::vector<Character> out;
  while (!name.empty()) {
    const auto c = next_character(name);
    if (!c) {
      out.push_back({'_', "_"});
      continue;
    }
    if (is_control(c->code)) continue;
    out.push_back(is_forbidden(c->code) ? Character{'_', "_"} : *c);
  }
  return out;
}

void trim(std::vector<Character>& characters) {
  std::size_t start = 0;
  while (start < characters.size() && is_blank(characters[start].code)) ++start;
  characters.erase(characters.begin(), characters.begin() + static_cast<std::ptrdiff_t>(start));
  while (!characters.empty() && (is_blank(characters.back().code) || characters.back().code == '.'))
    characters.pop_back();
}

void cut(std::vector<Character>& characters, std::size_t max) {
  if (characters.size() <= max) return;
  std::size_t end = max;
  // Back up to where one character on screen ends, unless the whole name is one long sequence.
  while (end > 0 && (continues_previous(characters[end].code) || characters[end - 1].code == 0x200D)) --end;
  characters.resize(end == 0 ? max : end);
}

std::string text_of(const std::vector<Character>& characters) {
  std::string out;
  for (const Character& c : characters) out += c.bytes;
  return out;
}

}  // namespace

bool is_reserved_device_name(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  const std::string upper = app::ascii_upper(base);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (upper == device) return true;
  if (upper.size() < 4 || (!upper.starts_with("COM") && !upper.starts_with("LPT"))) return false;
  const std::string_view digit = std::string_view(upper).substr(3);
  // COM1-9 and LPT1-9, and the superscript digits ¹ ² ³ that Windows takes for 1, 2, 3.
  return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" ||
         digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

std::string folder_name_for(std::string_view name, std::size_t max_characters) {
  std::vector<Character> characters = cleaned_characters(name);
  trim(characters);
  cut(characters, max_characters);
  trim(characters);  // the cut may leave a blank or a dot at the end
  if (is_reserved_device_name(text_of(characters))) {
    std::size_t dot = 0;
    while (dot < characters.size() && characters[dot].code != '.') ++dot;
    characters.insert(characters.begin() + static_cast<std::ptrdiff_t>(dot), Character{'_', "_"});
    cut(characters, max_characters);
    trim(characters);
  }
  return text_of(characters);
}

}  // namespace qz::watch
