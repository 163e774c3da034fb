// A folder typed at a console is taken from where the user stands.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fs.h"
#include "platform/paths.h"
#include "support/temp_folder.h"

namespace qz::platform {
namespace {

TEST(AbsolutePath, RelativeFormsAreTakenFromTheCurrentFolder) {
  const std::string here = test::u8(std::filesystem::current_path());
  struct Case {
    std::string given, expected;
  } cases[] = {
      {"下载", join_path(here, "下载")},
      {std::string(".") + kSep + "下载", join_path(here, "下载")},
      {".", here},
#ifdef _WIN32
      {"\\下载", here.substr(0, 2) + "\\下载"},  // the current drive's root
      {"C:\\录像\\直播", "C:\\录像\\直播"},
#else
      {"/srv/录像 直播", "/srv/录像 直播"},
#endif
  };
  for (const Case& c : cases) EXPECT_EQ(absolute_path(c.given), c.expected) << c.given;
}

}  // namespace
}  // namespace qz::platform
