#include "app/text_util.h"

#include <gtest/gtest.h>

namespace qz::app {
namespace {

TEST(AsciiCase, OnlyAsciiLettersChangeCase) {
  // "é" in UTF-8 and "编" in GBK carry bytes that a locale-aware lower() could change.
  EXPECT_EQ(ascii_lower("HTTP://Host/ÉA"), "http://host/Éa");
  EXPECT_EQ(ascii_upper("browser_path-9\xb1\xe0"), "BROWSER_PATH-9\xb1\xe0");
  struct Case {
    const char* text;
    const char* part;
    bool equal, starts, contains;
  } cases[] = {
      {"Location: x", "location: ", false, true, true},
      {"COOKIE", "cookie", true, true, true},
      {"a=1; Cookie: b", "cookie:", false, false, true},
      {"short", "shorter", false, false, false},
      {"\xb1\xe0", "\x91\xe0", false, false, false},  // 0xB1 is no 'Q' lowered
      {"", "", true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.part);
    EXPECT_EQ(equals_ignoring_ascii_case(c.text, c.part), c.equal);
    EXPECT_EQ(starts_with_ignoring_ascii_case(c.text, c.part), c.starts);
    EXPECT_EQ(contains_ignoring_ascii_case(c.text, c.part), c.contains);
  }
}

}  // namespace
}  // namespace qz::app
