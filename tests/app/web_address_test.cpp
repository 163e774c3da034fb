#include <gtest/gtest.h>

#include "app/web_address.h"

namespace qz::app {
namespace {

TEST(WebAddress, OnlyHttpAndHttpsWithAHost) {
  const struct {
    std::string address;
    bool ok;
    std::string host;
    int port;
    bool user_info;
  } cases[] = {
      {"https://Cdn.Example/a?b#c", true, "cdn.example", 443, false},
      {"HTTP://cdn.example:8080", true, "cdn.example", 8080, false},
      {"http://u:p@cdn.example/x", true, "cdn.example", 80, true},
      {"http://[::1]:9/x", true, "[::1]", 9, false},
      {"gopher://127.0.0.1:6379/_x", false, "", 0, false},
      {"file:///etc/passwd", false, "", 0, false},
      {"ftp://h/x", false, "", 0, false},
      {"//h/x", false, "", 0, false},
      {"https:///x", false, "", 0, false},
      {"https://h:/x", false, "", 0, false},
      {"https://h:70000/x", false, "", 0, false},
      {"https://h/a b", false, "", 0, false},
      {"https://h/a\r\n#EXT", false, "", 0, false},
      {"https://h\\@evil/x", false, "", 0, false},
      {std::string("https://h/\0x", 12), false, "", 0, false},
  };
  for (const auto& c : cases) {
    const auto a = parse_web_address(c.address);
    ASSERT_EQ(a.has_value(), c.ok) << c.address;
    if (!a) continue;
    EXPECT_EQ(a->host, c.host) << c.address;
    EXPECT_EQ(a->port, c.port) << c.address;
    EXPECT_EQ(a->user_info, c.user_info) << c.address;
  }
}

TEST(WebAddress, ShownCutToItsFirstCharactersWithoutControlBytes) {
  EXPECT_EQ(shown_address(std::string(250, 'a')), std::string(200, 'a'));
  EXPECT_EQ(shown_address("http://h/" + std::string(300, 'x')).size(), 200u);
  EXPECT_EQ(shown_address("http://h/\xE4\xB8\xAD\xE6\x96\x87", 10), "http://h/\xE4\xB8\xAD");  // whole characters
  EXPECT_EQ(shown_address("a\rb\nc"), "a?b?c");
}

}  // namespace
}  // namespace qz::app
