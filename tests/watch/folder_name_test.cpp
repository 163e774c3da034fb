#include "watch/folder_name.h"

#include <gtest/gtest.h>

#include "watch/room_list.h"

#include <string>

namespace qz::watch {
namespace {

std::string repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

// Code points of well-formed UTF-8; -1 when the text is not well-formed.
int characters(const std::string& text) {
  int count = 0;
  for (std::size_t i = 0; i < text.size(); ++count) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || i + length > text.size()) return -1;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return -1;
    i += length;
  }
  return count;
}

TEST(FolderName, RoomNamesBecomeNamesWindowsAccepts) {
  const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // 👨‍👩‍👧
  const std::string thumb_toned = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";                                     // 👍🏽
  struct Case {
    std::string name, folder;
  } cases[] = {
      {"小店🌸直播间", "小店🌸直播间"},
      {"a\\b/c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
      {"tab\there\r\nand\x7F bell\x07", "tabhereand bell"},
      {"  blanks around  ", "blanks around"},
      {"ends with dots...", "ends with dots"},
      {"ends. . .", "ends"},
      {"\xE3\x80\x80全角空格\xE3\x80\x80", "全角空格"},
      {"...", ""},
      {"", ""},
      {"\xFF\xFE" "abc\xC3", "__abc_"},                       // bytes that are no UTF-8
      {"\xED\xA0\x80x", "_x"},                                // an encoded surrogate is no UTF-8 either
      {"CON", "CON_"},
      {"con.txt", "con_.txt"},
      {"Nul", "Nul_"},
      {"aux.tar.gz", "aux_.tar.gz"},
      {"PRN ", "PRN_"},
      {"COM1", "COM1_"},
      {"lpt9.mp4", "lpt9_.mp4"},
      {"COM\xC2\xB9", "COM\xC2\xB9_"},                       // COM¹ is COM1 to Windows
      {"COM0", "COM0"},
      {"LPT10", "LPT10"},
      {"CONSOLE", "CONSOLE"},
      {"小CON", "小CON"},
      {repeat("播", 200), repeat("播", 80)},
      {repeat("a", 79) + thumb_toned, repeat("a", 79)},        // the skin tone stays with its hand
      {repeat("a", 78) + family, repeat("a", 78)},             // a joined family is not split
      {repeat("a", 76) + family, repeat("a", 76)},             // the whole sequence goes or stays
      {repeat("a", 79) + ". b", repeat("a", 79)},              // the cut leaves no dot at the end
      {"con." + repeat("x", 76), "con_." + repeat("x", 75)},   // the "_" does not make it 81
      {repeat("🌸", 100), repeat("🌸", 80)},
  };
  for (const Case& c : cases) EXPECT_EQ(folder_name_for(c.name), c.folder) << c.name;
}

TEST(FolderName, WhateverTheNameTheResultKeepsEveryRule) {
  const std::string names[] = {
      repeat("名字<>:\"/\\|?* ", 30), repeat("\x01\x1F", 100), "NUL.", "nul .mp4", repeat(". ", 90) + "x",
      repeat("x", 80) + "\xE2\x80\x8D\xF0\x9F\x8C\xB8", "\xF0\x9F\x8C", repeat("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 60),
  };
  for (const std::string& name : names) {
    const std::string folder = folder_name_for(name);
    ASSERT_GE(characters(folder), 0) << name;
    EXPECT_LE(characters(folder), 80) << name;
    EXPECT_EQ(folder.find_first_of("\\/:*?\"<>|"), std::string::npos) << folder;
    for (const char c : folder) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << folder;
    if (!folder.empty()) {
      EXPECT_NE(folder.back(), '.') << folder;
      EXPECT_NE(folder.back(), ' ') << folder;
      EXPECT_NE(folder.front(), ' ') << folder;
    }
    EXPECT_FALSE(is_reserved_device_name(folder)) << folder;
  }
}

// A room's folder is made once, from its name, and kept: a new title on the page (or a new name
// from the user) never scatters its recordings over two folders, and two rooms never share one.
TEST(FolderName, ARoomKeepsItsFolderAndNoTwoRoomsShareOne) {
  RoomList list;
  for (int i = 1; i <= 5; ++i) add_room(list, "https://example.com/live/" + std::to_string(i), "");
  name_room_from_page(list, 0, "小店:今晚8点");
  name_room_from_page(list, 1, "小店:今晚8点");  // another streamer, the same name
  rename_room(list, 2, repeat("长", 90));
  rename_room(list, 3, repeat("长", 90));
  struct Case {
    std::size_t room;
    std::string folder;
  } cases[] = {
      {0, "小店_今晚8点"},
      {1, "小店_今晚8点 (2)"},
      {2, repeat("长", 80)},
      {3, repeat("长", 76) + " (2)"},  // the number still fits in 80 characters
      {4, "直播间_fa880729"},             // no name yet: from the identity's hash
  };
  for (const Case& c : cases) EXPECT_EQ(ensure_room_folder(list, c.room), c.folder) << c.room;

  name_room_from_page(list, 0, "新标题");  // the page's name does not replace one the room has
  EXPECT_EQ(list.rooms[0].name, "小店:今晚8点");
  rename_room(list, 0, "用户起的名字\r\n");
  EXPECT_EQ(list.rooms[0].name, "用户起的名字");
  EXPECT_EQ(ensure_room_folder(list, 0), "小店_今晚8点");
}

}  // namespace
}  // namespace qz::watch
