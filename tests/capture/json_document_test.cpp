#include "capture/json_document.h"

#include <gtest/gtest.h>

namespace qz::capture {
namespace {

struct PathCase {
  const char* name;
  std::string json;
  std::string path;
  std::string expected;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class JsonDocumentPaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(JsonDocumentPaths, GetText) {
  JsonDocument document;
  document.load(GetParam().json);
  EXPECT_EQ(document.get_text(GetParam().path), GetParam().expected);
}

const std::string kRoom = R"({"mutipleKvList":[{"fields":{"src":"https://pull.example/live/1.flv?a=1&b=2"}}]})";

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonDocumentPaths,
    ::testing::Values(
        PathCase{"OneElementArray", kRoom, "//mutipleKvList[1].fields.src", "https://pull.example/live/1.flv?a=1&b=2"},
        PathCase{"EmptyArray", R"({"mutipleKvList":[]})", "//mutipleKvList[1].fields.src", ""},
        PathCase{"FieldsWithoutSrc", R"({"mutipleKvList":[{"fields":{"other":"x"}}]})",
                 "//mutipleKvList[1].fields.src", ""},
        PathCase{"SecondElementOneBased", R"({"a":[{"b":"one"},{"b":"two"}]})", "//a[2].b", "two"},
        PathCase{"ZeroSelectorIsNoElement", R"({"a":[{"b":"one"}]})", "//a[0].b", ""},
        PathCase{"SelectorPastTheEnd", R"({"a":[{"b":"one"}]})", "//a[2].b", ""},
        PathCase{"NestedSelectors", R"({"m":[[1,"x"],[2,"y"]]})", "//m[2][2]", "y"},
        PathCase{"SelectorOnObject", R"({"a":{"b":"c"}})", "//a[1]", ""},
        PathCase{"MemberOfArray", R"({"a":["b"]})", "//a.b", ""},
        PathCase{"MemberOfString", R"({"a":"text"})", "//a.b", ""},
        PathCase{"EscapedSlashAndQuote", R"({"p":"{\"u\":\"http:\/\/h\/x\"}"})", "//p", R"({"u":"http://h/x"})"},
        PathCase{"UnicodeEscapesToUtf8", R"({"t":"\u76f4\u64ad \ud83d\ude00"})", "//t", "直播 \xF0\x9F\x98\x80"},
        // A title cut in the middle of an emoji costs that half only, never the whole text.
        PathCase{"LoneHighSurrogateBecomesReplacement", R"({"t":"a\ud83d","u":"x"})", "//u", "x"},
        PathCase{"LoneHalvesReplacedPairsKept", R"({"t":"\ude00a\ud83d\ude00b\ud83d"})", "//t",
                 "\xEF\xBF\xBD" "a\xF0\x9F\x98\x80" "b\xEF\xBF\xBD"},
        PathCase{"EscapedBackslashBeforeUIsNoEscape", R"({"t":"\\ud83d"})", "//t", "\\ud83d"},
        PathCase{"HighFollowedByHighIsTwoLoneHalves", R"({"t":"\ud83d\ud83d"})", "//t", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        PathCase{"NumberAndBoolean", R"({"n":12.5,"b":true})", "//n", "12.5"},
        PathCase{"NullGivesEmpty", R"({"n":null})", "//n", ""},
        PathCase{"ObjectGivesEmpty", R"({"o":{"a":"b"}})", "//o", ""},
        PathCase{"PathWithoutSlashes", R"({"a":"b"})", "a", ""},
        PathCase{"EmptyStepBetweenDots", R"({"a":{"b":"c"}})", "//a..b", ""},
        PathCase{"TrailingDot", R"({"a":{"b":"c"}})", "//a.b.", ""},
        PathCase{"UnclosedSelector", R"({"a":["b"]})", "//a[1", ""},
        PathCase{"NonDigitSelector", R"({"a":["b"]})", "//a[x]", ""},
        PathCase{"HugeSelector", R"({"a":["b"]})", "//a[99999999999999999999999]", ""},
        PathCase{"NotJson", "mutipleKvList=1&src=x", "//mutipleKvList[1].fields.src", ""},
        PathCase{"TruncatedJson", R"({"a":{"b":"c")", "//a.b", ""},
        PathCase{"TrailingGarbage", R"({"a":"b"} x)", "//a", ""},
        PathCase{"EmptyText", "", "//a", ""},
        PathCase{"ArrayRoot", R"([{"a":"b"}])", "//[1].a", "b"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JsonDocument, LoadingASecondTextDiscardsTheFirst) {
  JsonDocument document;
  document.load(R"({"a":"first","b":"kept?"})");
  ASSERT_EQ(document.get_text("//b"), "kept?");
  document.load(R"({"a":"second"})");
  EXPECT_EQ(document.get_text("//a"), "second");
  EXPECT_EQ(document.get_text("//b"), "");
  document.load("not json");
  EXPECT_EQ(document.get_text("//a"), "");
  EXPECT_TRUE(document.empty());
}

TEST(JsonDocument, DeepNestingNeitherCrashesNorMisleads) {
  // A hostile body: a million nested arrays, then the same inside an object member.
  const std::size_t depth = 1'000'000;
  std::string deep(depth, '[');
  deep.append(depth, ']');
  JsonDocument document;
  document.load(deep);
  EXPECT_EQ(document.get_text("//[1][1]"), "");
  document.load("{\"a\":" + deep + ",\"s\":\"ok\"}");
  EXPECT_EQ(document.get_text("//s"), "ok");
  EXPECT_EQ(document.get_text("//a"), "");  // an array is not written out, however deep
  // Unbalanced: the same depth, never closed.
  document.load(std::string(depth, '['));
  EXPECT_EQ(document.get_text("//a"), "");
}

TEST(JsonDocument, HugeStringValueComesBackWhole) {
  const std::string big(8 << 20, 'x');
  JsonDocument document;
  document.load("{\"request\":{\"postData\":\"" + big + "\"}}");
  EXPECT_EQ(document.get_text("//request.postData"), big);
}

}  // namespace
}  // namespace qz::capture
