#include "app/logs.h"

#include <gtest/gtest.h>

#include "platform/text_codec.h"
#include "support/temp_folder.h"

namespace qz::app {
namespace {

using platform::LocalTime;

TEST(Logs, TimestampPatterns) {
  const LocalTime t{2024, 3, 5, 7, 4, 9};
  EXPECT_EQ(format_timestamp(t), "2024-03-05 07:04:09");
  EXPECT_EQ(format_timestamp(t, "yyyy-MM-dd HH:mm:ss"), "2024-03-05 07:04:09");
  EXPECT_EQ(format_timestamp(t, "dd/MM/yyyy"), "05/03/2024");
  EXPECT_EQ(format_timestamp({987, 12, 31, 23, 59, 58}, "yyyy.MM.dd HH-mm-ss"), "0987.12.31 23-59-58");
  EXPECT_EQ(format_timestamp(t, "ymdHs"), "ymdHs");  // only whole tokens are replaced
}

TEST(Logs, RunLogTimeTextKeepsOnlyWhatIsNeeded) {
  struct Case {
    LocalTime t;
    const char* want;
  } cases[] = {
      {{2024, 3, 5, 9, 0, 0}, "2024年3月5日9时"},
      {{2024, 3, 5, 9, 0, 30}, "2024年3月5日9时0分30秒"},
      {{2024, 3, 5, 9, 5, 0}, "2024年3月5日9时5分"},
      {{2024, 3, 5, 0, 0, 0}, "2024年3月5日"},
      {{2024, 12, 25, 0, 0, 1}, "2024年12月25日0时0分1秒"},
  };
  for (const Case& c : cases) EXPECT_EQ(run_log_time_text(c.t), c.want);
}

TEST(Logs, RunLogInsertsNewestFirstInTheDaysFile) {
  test::TempFolder folder;
  std::filesystem::create_directories(folder / "data");
  const LocalTime day1{2024, 3, 5, 9, 0, 0};
  // Long enough that the move crosses several 4 KiB blocks.
  const std::string big(9000, 'a');
  write_run_log(folder.str(), "first", day1);
  write_run_log(folder.str(), big, {2024, 3, 5, 9, 5, 0});
  write_run_log(folder.str(), "third", {2024, 3, 5, 9, 5, 7});
  write_run_log(folder.str(), "next day", {2024, 3, 6, 0, 0, 1});

  const std::string expected = platform::utf8_to_gbk(
      "2024年3月5日9时5分7秒   third\r\n2024年3月5日9时5分   " + big + "\r\n2024年3月5日9时   first\r\n");
  EXPECT_EQ(test::read_bytes(folder / "data/运行日志2024年3月5日.txt"), expected);
  EXPECT_EQ(test::read_bytes(folder / "data/运行日志2024年3月6日.txt"),
            platform::utf8_to_gbk("2024年3月6日0时0分1秒   next day\r\n"));
}

TEST(Logs, RunLogWithoutDataFolderIsLost) {
  test::TempFolder folder;
  write_run_log(folder.str(), "lost", {2024, 3, 5, 9, 0, 0});
  EXPECT_FALSE(std::filesystem::exists(folder / "data"));
}

TEST(Logs, ErrorLogEntriesRunOnBackToBack) {
  test::TempFolder folder;
  const std::string entry = no_admin_error_entry({2024, 3, 5, 7, 4, 9});
  append_error_log(folder.str(), entry);  // creates logs/
  append_error_log(folder.str(), entry);
  const std::string one = platform::utf8_to_gbk(
      "运行时间：2024-03-05 07:04:09\r\n程序未以管理员权限运行，可能会导致部分功能失效，请留意.");
  EXPECT_EQ(test::read_bytes(folder / "logs/error.log"), one + one);
}

}  // namespace
}  // namespace qz::app
