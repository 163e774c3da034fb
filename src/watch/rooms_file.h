#pragma once
// data/rooms.ini: the room list as a UTF-8 INI file that a person can read and edit. One section
// per room, in list order:
//
//   [watch]
//   自动录制=1
//
//   [直播间1]
//   link=https://...
//   name=...
//   on=1
//   added=2026-12-11 19:00:00
//   folder=...
//   page=...              (once a check has learned the page the link leads to)
//
// Any section other than [watch] is a room, whatever its name, so a room copied by hand counts.
// Written whole or not at all, like the settings.
#include <string>
#include <string_view>
#include <vector>

#include "watch/room_list.h"

namespace qz::watch {

struct RoomsRead {
  RoomList list;
  // One line per thing skipped ("第 7 行……"), for the user: a hand-edited line that makes no
  // sense, a room without a usable link, a room listed twice, a last line cut short.
  std::vector<std::string> problems;
};

// A room file's text as the list it holds. Never fails: what cannot be read is skipped and named.
// A last line without its line break is taken as cut short (a crash while the file was copied or
// written by another program) and skipped: a cut link would name another room.
RoomsRead parse_rooms(std::string_view text);
std::string format_rooms(const RoomList& list);

std::string rooms_path(const std::string& program_folder);  // data/rooms.ini

// The list in the file at `path`; a missing file is an empty list.
RoomsRead load_rooms(const std::string& path);

// Writes the list, whole or not at all (false: the file keeps what it held). When the file on disk
// had problems when it was read (`had_problems`), it is first kept as it was beside it, as
// rooms.ini.bak, so nothing a person wrote there is lost by the save.
bool save_rooms(const std::string& path, const RoomList& list, bool had_problems);

}  // namespace qz::watch
