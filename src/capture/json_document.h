#pragma once
// The small JSON document the capture handler reads single texts out of: load a JSON text, then
// ask for the text at a key path such as "//params.request.postData" or
// "//mutipleKvList[1].fields.src" (member names joined by ".", [n] picks the n-th array element,
// counting from 1).
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qz::capture {

class JsonDocument {
 public:
  // Replaces the whole content; a text that does not parse leaves the document empty.
  void load(std::string_view text);
  bool empty() const { return root_.is_discarded() || root_.is_null(); }

  // The string at `path` with its escapes decoded ("\u" escapes become UTF-8); a number or
  // boolean gives its JSON text. Every failure (bad path, missing member or element, a step into
  // the wrong kind of value, empty document) and null, object or array values give "".
  std::string get_text(std::string_view path) const;

 private:
  nlohmann::json root_;
};

// `text` with every lone UTF-16 surrogate escape (a \ud83d escape whose other half was cut off, as in a
// title shortened in the middle of an emoji) turned into \ufffd, so a strict parser takes the
// rest of the text. Pairs and every other byte stay as they are.
std::string replace_lone_surrogates(std::string_view text);

// Parses `text`, mending lone surrogate escapes when that is what stops it; a discarded value
// when the text is not JSON.
nlohmann::json parse_lenient(std::string_view text);

}  // namespace qz::capture
