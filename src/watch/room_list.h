#pragma once
// The rooms the program watches, and whether watching ("自动录制") is on. Kept in data/rooms.ini
// (rooms_file.h); this is the list itself and what may be done to it.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::watch {

struct Room {
  std::string link;    // the share link as the user gave it
  std::string name;    // the streamer's name; empty until the user or the room's page names it
  bool on = true;      // watched and recorded when live; off: kept on the list, left alone
  std::string added;   // local time it was added, "YYYY-MM-DD HH:MM:SS"
  std::string folder;  // its folder under the download folder, fixed once given
  std::string page;    // identity of the room page the link led to, once a check saw it

  std::string identity() const;  // room_identity(link)
  // True when `identity` names this room: its link's or its page's.
  bool is(std::string_view identity) const;
};

struct RoomList {
  bool watching = false;  // "自动录制"
  std::vector<Room> rooms;

  // Index of the room a link names (its share link or the page it leads to), if listed.
  std::optional<std::size_t> find(std::string_view link) const;
  // Index of the room an identity names (room_identity()), if listed.
  std::optional<std::size_t> find_identity(std::string_view identity) const;
};

struct AddOutcome {
  enum class What { kAdded, kAlreadyListed, kNotALink } what = What::kNotALink;
  std::size_t index = 0;  // the room added, or the one already listed
};

// Adds the room a link (or a text holding one) names, on, unless it is listed already.
AddOutcome add_room(RoomList& list, std::string_view link, std::string added_at);

// A check followed the room's link to its page: remembers that page, so a later link to the page
// finds this room. When another room on the list was added under that page's link, that room is
// this one listed twice: its index comes back, for the caller to remove.
std::optional<std::size_t> learn_room_page(RoomList& list, std::size_t index, std::string_view page_link);

// The room's name as the user gives it; the folder, once given, stays.
void rename_room(RoomList& list, std::size_t index, std::string_view name);
// The name the room's page shows: taken only while the room has none.
void name_room_from_page(RoomList& list, std::size_t index, std::string_view name);

// The room's folder name: the one it has, else one made from its name (or, while it has none,
// from its identity) that no other room of the list uses, kept in the room from now on.
const std::string& ensure_room_folder(RoomList& list, std::size_t index);

// A room named by its number on `rooms list` (from 1) or by a link; nothing when neither fits.
std::optional<std::size_t> room_by_number_or_link(const RoomList& list, std::string_view which);

}  // namespace qz::watch
