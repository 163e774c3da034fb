#include "app/ini_file.h"

#include <gtest/gtest.h>

namespace qz::app {
namespace {

TEST(IniFile, ReadsTheWayThePrivateProfileReaderDoes) {
  const std::string ini =
      "; comment\r\n[Other]\r\nkey=other\r\n[Sect]\r\n  Key  =  spaced value  \r\nq=\"quoted\"\r\n"
      "half=\"open\r\nempty=\r\nlf=unix\nlast=no newline";
  struct Case {
    const char* section;
    const char* key;
    std::optional<std::string> want;
  } cases[] = {
      {"Sect", "key", "spaced value"},  // keys match without regard to case, blanks trimmed
      {"SECT", "KEY", "spaced value"},
      {"Sect", "q", "quoted"},          // one pair of surrounding quotes removed
      {"Sect", "half", "\"open"},
      {"Sect", "empty", ""},
      {"Sect", "lf", "unix"},
      {"Sect", "last", "no newline"},
      {"Sect", "missing", std::nullopt},
      {"Other", "key", "other"},
      {"Nowhere", "key", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ini_get(ini, c.section, c.key), c.want) << c.section << "/" << c.key;
}

TEST(IniFile, WritesInPlaceAppendsToSectionOrAddsSection) {
  std::string ini = ini_set("", "S", "a", "1");
  EXPECT_EQ(ini, "[S]\r\na=1\r\n");
  ini = ini_set(ini, "S", "b", "2");
  EXPECT_EQ(ini, "[S]\r\na=1\r\nb=2\r\n");
  ini = ini_set(ini, "s", "A", "3");  // existing key replaced where it stands
  EXPECT_EQ(ini, "[S]\r\nA=3\r\nb=2\r\n");
  ini = ini_set(ini, "T", "c", "");
  EXPECT_EQ(ini, "[S]\r\nA=3\r\nb=2\r\n[T]\r\nc=\r\n");
  ini = ini_set(ini, "S", "d", "4");  // a new key goes to its own section, not the last one
  EXPECT_EQ(ini, "[S]\r\nA=3\r\nb=2\r\nd=4\r\n[T]\r\nc=\r\n");
}

TEST(IniFile, JunkNeverBreaksReadingOrWriting) {
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 131 + 7) % 256);
  EXPECT_NO_THROW((void)ini_get(junk, "S", "k"));
  const std::string written = ini_set(junk, "S", "k", "v");
  EXPECT_EQ(ini_get(written, "S", "k"), "v");
}

}  // namespace
}  // namespace qz::app
