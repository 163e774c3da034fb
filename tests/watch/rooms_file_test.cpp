#include "watch/rooms_file.h"

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "support/temp_folder.h"
#include "watch/room_identity.h"

namespace qz::watch {
namespace {

using test::TempFolder;
using test::u8;

RoomList sample_list() {
  RoomList list;
  list.watching = true;
  const char* names[] = {
      "🌸小店🌸",                     // emoji
      "한국어 쇼핑 라이브",            // Hangul: no GBK
      "𠀀𠀁 Ω ✓ é",                  // CJK extension B and other letters GBK lacks
      "\"引号\" = 等号; 分号",          // what an INI line could misread
      "  blanks at the ends ",
      "",                             // not named yet
  };
  int n = 0;
  for (const char* name : names) {
    Room room;
    room.link = "https://live.example.com/room?room=r" + std::to_string(++n);
    room.name = name;
    room.on = n % 2 == 1;
    room.added = "2026-12-11 10:0" + std::to_string(n) + ":00";
    room.folder = name[0] ? std::string("文件夹") + std::to_string(n) : "";
    list.rooms.push_back(room);
  }
  list.rooms[1].page = "live.example.com/page/2";
  return list;
}

void expect_same(const RoomList& got, const RoomList& want) {
  EXPECT_EQ(got.watching, want.watching);
  ASSERT_EQ(got.rooms.size(), want.rooms.size());
  for (std::size_t i = 0; i < want.rooms.size(); ++i) {
    EXPECT_EQ(got.rooms[i].link, want.rooms[i].link) << i;
    EXPECT_EQ(got.rooms[i].name, want.rooms[i].name) << i;
    EXPECT_EQ(got.rooms[i].on, want.rooms[i].on) << i;
    EXPECT_EQ(got.rooms[i].added, want.rooms[i].added) << i;
    EXPECT_EQ(got.rooms[i].folder, want.rooms[i].folder) << i;
    EXPECT_EQ(got.rooms[i].page, want.rooms[i].page) << i;
  }
}

TEST(RoomsFile, EveryCharacterOfANameSurvivesASaveAndALoad) {
  const TempFolder program;
  const std::string path = rooms_path(program.str());
  const RoomList list = sample_list();
  ASSERT_TRUE(save_rooms(path, list, false));  // the data folder is made
  const RoomsRead read = load_rooms(path);
  EXPECT_TRUE(read.problems.empty()) << read.problems.front();
  expect_same(read.list, list);
  // Stored as UTF-8, readable in any editor.
  const std::string bytes = platform::read_file(path).value_or("");
  EXPECT_NE(bytes.find("name=🌸小店🌸\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("name=\"  blanks at the ends \"\r\n"), std::string::npos);
  EXPECT_FALSE(platform::file_exists(path + ".bak"));
}

TEST(RoomsFile, AFileWrittenByHandReads) {
  const std::string text =
      "# my rooms\n"
      "[Watch]\n"
      "自动录制 = 1\n"
      "\n"
      "[小店]\n"
      "LINK = https://v.example.com/AbC\n"
      "name=小店 🌸\n"
      "[another one]\n"
      "link=https://live.example.com/room?room=r9\n"
      "on=0\n";
  const RoomsRead read = parse_rooms(text);
  EXPECT_TRUE(read.problems.empty()) << read.problems.front();
  EXPECT_TRUE(read.list.watching);
  ASSERT_EQ(read.list.rooms.size(), 2u);
  EXPECT_EQ(read.list.rooms[0].link, "https://v.example.com/AbC");
  EXPECT_EQ(read.list.rooms[0].name, "小店 🌸");
  EXPECT_TRUE(read.list.rooms[0].on);  // on unless it says otherwise
  EXPECT_FALSE(read.list.rooms[1].on);
}

TEST(RoomsFile, BadLinesAreSkippedAndNamedTheRestLoads) {
  const std::string text =
      "stray line before any section\r\n"               // 1
      "[watch]\r\n"                                    // 2
      "自动录制=maybe\r\n"                              // 3
      "[直播间1]\r\n"                                   // 4
      "link=https://example.com/live/1\r\n"            // 5
      "on=yes\r\n"                                     // 6
      "colour=blue\r\n"                                // 7
      "no equals sign here\r\n"                        // 8
      "folder=a/b:c\r\n"                               // 9
      "[直播间2]\r\n"                                   // 10
      "name=没有链接\r\n"                               // 11
      "[直播间3]\r\n"                                   // 12
      "link=http://www.example.com/live/1/\r\n"        // 13 the first room again
      "[直播间4]\r\n"                                   // 14
      "link=https://example.com/live/4\r\n"            // 15
      "folder=A_B_C\r\n";                              // 16 room 1's folder, in another case
  const RoomsRead read = parse_rooms(text);
  ASSERT_EQ(read.list.rooms.size(), 2u);
  EXPECT_EQ(read.list.rooms[0].link, "https://example.com/live/1");
  EXPECT_TRUE(read.list.rooms[0].on);
  EXPECT_EQ(read.list.rooms[0].folder, "a_b_c");
  EXPECT_EQ(read.list.rooms[1].link, "https://example.com/live/4");
  EXPECT_EQ(read.list.rooms[1].folder, "");  // two rooms never share a folder
  EXPECT_FALSE(read.list.watching);
  const char* lines[] = {"第 1 行", "第 3 行", "第 6 行", "第 7 行", "第 8 行", "第 9 行", "第 10 行", "第 12 行"};
  std::string all;
  for (const std::string& problem : read.problems) all += problem + "\n";
  for (const char* line : lines) EXPECT_NE(all.find(line), std::string::npos) << line << " in:\n" << all;
  EXPECT_EQ(read.problems.size(), std::size(lines)) << all;
}

// A crash (or a copy cut short) can leave any prefix of the file. Whatever is left, every room
// loaded is a room of the list, whole; the rooms before the cut are all there; and the save that
// follows keeps the damaged file beside the new one.
TEST(RoomsFile, AFileCutShortLoadsWhatIsWholeAndTheSaveLosesNothing) {
  const RoomList list = sample_list();
  const std::string whole = format_rooms(list);
  // Where each room's section ends (its last line break).
  std::vector<std::size_t> ends;
  for (std::size_t i = 0; i < list.rooms.size(); ++i) {
    const std::size_t next = whole.find("[直播间" + std::to_string(i + 2) + "]");
    ends.push_back(next == std::string::npos ? whole.size() : next - 2);
  }
  for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
    const std::string text = whole.substr(0, cut);
    const RoomsRead read = parse_rooms(text);
    for (const Room& room : read.list.rooms) {
      const auto original = list.find(room.link);
      ASSERT_TRUE(original) << "cut at " << cut << " gave " << room.link;
      const Room& was = list.rooms[*original];
      EXPECT_EQ(room.link, was.link) << "cut at " << cut;
      // A field is what it was, or not there yet: never a part of it.
      for (const auto& [got, want] : {std::pair(room.name, was.name), std::pair(room.added, was.added),
                                      std::pair(room.folder, was.folder), std::pair(room.page, was.page)})
        EXPECT_TRUE(got.empty() || got == want) << "cut at " << cut << ": " << got;
    }
    for (std::size_t i = 0; i < list.rooms.size(); ++i) {
      if (cut < ends[i]) break;
      ASSERT_GT(read.list.rooms.size(), i) << "cut at " << cut;
      EXPECT_EQ(read.list.rooms[i].name, list.rooms[i].name) << "cut at " << cut;
      EXPECT_EQ(read.list.rooms[i].folder, list.rooms[i].folder) << "cut at " << cut;
    }
    if (cut > 0 && text.back() != '\n' && text.back() != '\r')
      EXPECT_FALSE(read.problems.empty()) << "cut at " << cut << " not named";
  }

  const TempFolder program;
  const std::string path = rooms_path(program.str());
  const std::string damaged = whole.substr(0, whole.size() / 2);
  ASSERT_TRUE(platform::make_directories(u8(program / "data")));
  ASSERT_TRUE(platform::write_file(path, damaged));
  RoomsRead read = load_rooms(path);
  ASSERT_FALSE(read.problems.empty());
  const std::size_t loaded = read.list.rooms.size();
  ASSERT_GT(loaded, 0u);
  add_room(read.list, "https://example.com/live/new", "2026-12-11 12:00:00");
  ASSERT_TRUE(save_rooms(path, read.list, true));
  EXPECT_EQ(platform::read_file(path + ".bak"), damaged);
  const RoomsRead again = load_rooms(path);
  EXPECT_TRUE(again.problems.empty());
  EXPECT_EQ(again.list.rooms.size(), loaded + 1);
}

TEST(RoomsFile, AMissingFileIsAnEmptyList) {
  const TempFolder program;
  const RoomsRead read = load_rooms(rooms_path(program.str()));
  EXPECT_TRUE(read.list.rooms.empty());
  EXPECT_FALSE(read.list.watching);
  EXPECT_TRUE(read.problems.empty());
}

}  // namespace
}  // namespace qz::watch
