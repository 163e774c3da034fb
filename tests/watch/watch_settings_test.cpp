// The watching settings follow the program's configuration contract: data/config.ini, then
// QIONGZHI_<KEY> over it, values out of range brought back into it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/config.h"
#include "support/temp_folder.h"

namespace qz::app {
namespace {

void set_variable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value) ::setenv(name, value, 1);
  else ::unsetenv(name);
#endif
}

TEST(WatchSettings, DefaultsFileAndEnvironment) {
  const test::TempFolder program;
  const Config defaults = Config::load(program.str());
  EXPECT_EQ(defaults.watch_every, 120);
  EXPECT_EQ(defaults.watch_page_seconds, 20);
  EXPECT_EQ(defaults.watch_tabs, 2);
  EXPECT_EQ(defaults.watch_gap, 3);
  EXPECT_EQ(defaults.max_recordings, 8);
  EXPECT_EQ(defaults.min_free_mb, 2048);
  EXPECT_EQ(defaults.webhook_url, "");
  EXPECT_EQ(defaults.watch_shard, "");

  test::write_bytes(program / "data/config.ini",
                    "[config]\r\nwatch_every=300\r\nwatch_page_seconds=15\r\nwatch_tabs=40\r\nwatch_gap=-2\r\n"
                    "max_recordings=0\r\nmin_free_mb=512\r\nwebhook_url=https://hooks.example.com/qz?a=1\r\n"
                    "watch_shard=1/4\r\n");
  set_variable("QIONGZHI_WATCH_SHARD", "3/4");
  const Config c = Config::load(program.str());
  set_variable("QIONGZHI_WATCH_SHARD", nullptr);
  EXPECT_EQ(c.watch_every, 300);
  EXPECT_EQ(c.watch_page_seconds, 15);
  EXPECT_EQ(c.watch_tabs, 16);     // at most 16 pages
  EXPECT_EQ(c.watch_gap, 0);       // never negative
  EXPECT_EQ(c.max_recordings, 1);  // at least one
  EXPECT_EQ(c.min_free_mb, 512);
  EXPECT_EQ(c.webhook_url, "https://hooks.example.com/qz?a=1");
  EXPECT_EQ(c.watch_shard, "3/4");  // the environment wins
}

}  // namespace
}  // namespace qz::app
