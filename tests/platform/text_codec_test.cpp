#include "platform/text_codec.h"

#include <gtest/gtest.h>

namespace qz::platform {
namespace {

TEST(TextCodec, GbkRoundTripWithKnownBytes) {
  EXPECT_EQ(utf8_to_gbk("编辑框"), "\xB1\xE0\xBC\xAD\xBF\xF2");
  EXPECT_EQ(gbk_to_utf8("\xB1\xE0\xBC\xAD\xBF\xF2"), "编辑框");
  EXPECT_EQ(utf8_to_gbk("a\r\nb"), "a\r\nb");
}

TEST(TextCodec, BadBytesAreReplacedNotFatal) {
  EXPECT_FALSE(gbk_to_utf8("ok\xFF\x80\x81").empty());
  EXPECT_EQ(gbk_to_utf8("ok\xFF").substr(0, 2), "ok");
}

TEST(TextCodec, NamedCharsets) {
  EXPECT_EQ(charset_to_utf8("\xC4\xE3\xBA\xC3", "gb2312"), "你好");
  EXPECT_EQ(charset_to_utf8("\xE4\xBD\xA0", "UTF-8"), "你");
  EXPECT_FALSE(charset_to_utf8("x", "no-such-charset").has_value());
}

TEST(TextCodec, Utf8ValidityAndCompletePrefix) {
  struct Case {
    std::string bytes;
    bool valid;
    std::size_t complete;
  } cases[] = {
      {"", true, 0},
      {"abc", true, 3},
      {"你好", true, 6},
      {std::string("你好").substr(0, 5), false, 3},  // last character cut: keep it for later
      {std::string("你好").substr(0, 4), false, 3},
      {"\xB1\xE0", false, 1},  // a trailing lead byte may start the next chunk
      {"\xC0\xAF", false, 2},  // overlong
      {"\xED\xA0\x80", false, 3},  // surrogate
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.bytes;
    EXPECT_EQ(utf8_complete_prefix(c.bytes), c.complete) << c.bytes;
  }
}

}  // namespace
}  // namespace qz::platform
