#include "capture/json_document.h"

#include <charconv>

namespace qz::capture {

using nlohmann::json;

namespace {

// The code unit of a "\\uXXXX" escape starting at `at`, or -1.
int escape_unit(std::string_view text, std::size_t at) {
  if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return -1;
  int unit = 0;
  const auto [end, ec] = std::from_chars(text.data() + at + 2, text.data() + at + 6, unit, 16);
  return ec == std::errc() && end == text.data() + at + 6 ? unit : -1;
}

bool is_high(int unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low(int unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::string replace_lone_surrogates(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i++];
      continue;
    }
    const int unit = escape_unit(text, i);
    if (is_high(unit) && is_low(escape_unit(text, i + 6))) {
      out.append(text.substr(i, 12));
      i += 12;
    } else if (is_high(unit) || is_low(unit)) {
      out += "\\ufffd";
      i += 6;
    } else {
      out.append(text.substr(i, 2));  // any other escape, "\\\\" included, passes whole
      i += 2;
    }
  }
  return out;
}

json parse_lenient(std::string_view text) {
  json value = json::parse(text.begin(), text.end(), nullptr, false);
  if (value.is_discarded() && text.find("\\u") != std::string_view::npos) {
    const std::string mended = replace_lone_surrogates(text);
    value = json::parse(mended.begin(), mended.end(), nullptr, false);
  }
  return value;
}

void JsonDocument::load(std::string_view text) {
  root_ = parse_lenient(text);
  if (root_.is_discarded()) root_ = nullptr;
}

namespace {

// One step: "name", "name[2]", "name[1][3]", or "[2]" on an array root.
const json* walk_step(const json* value, std::string_view step) {
  const std::size_t bracket = step.find('[');
  const std::string_view name = step.substr(0, bracket);
  if (!name.empty()) {
    if (!value->is_object()) return nullptr;
    auto it = value->find(name);
    if (it == value->end()) return nullptr;
    value = &*it;
  } else if (bracket == std::string_view::npos) {
    return nullptr;  // an empty step ("a..b", trailing ".")
  }
  std::string_view rest = bracket == std::string_view::npos ? std::string_view() : step.substr(bracket);
  while (!rest.empty()) {
    if (rest.front() != '[') return nullptr;
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos || close == 1) return nullptr;
    const std::string_view digits = rest.substr(1, close - 1);
    std::size_t n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc() || end != digits.data() + digits.size() || n == 0) return nullptr;
    if (!value->is_array() || n > value->size()) return nullptr;
    value = &(*value)[n - 1];
    rest.remove_prefix(close + 1);
  }
  return value;
}

}  // namespace

std::string JsonDocument::get_text(std::string_view path) const {
  if (empty() || path.size() < 3 || path.substr(0, 2) != "//") return {};
  path.remove_prefix(2);
  const json* value = &root_;
  while (value) {
    const std::size_t dot = path.find('.');
    value = walk_step(value, path.substr(0, dot));
    if (dot == std::string_view::npos) break;
    path.remove_prefix(dot + 1);
  }
  if (!value) return {};
  if (value->is_string()) return value->get<std::string>();
  if (value->is_number() || value->is_boolean()) return value->dump();
  return {};  // null, object, array: nothing the system reads (and no deep walk to write them out)
}

}  // namespace qz::capture
