#include "watch/room_list.h"

#include <charconv>
#include <cstdio>

#include "app/text_util.h"
#include "watch/folder_name.h"
#include "watch/room_identity.h"
#include "watch/shard.h"

namespace qz::watch {
namespace {

// Names go into one line of the rooms file and onto the console: control characters become blanks.
std::string one_line(std::string_view text) {
  std::string out;
  for (const char c : text) out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
  std::size_t start = out.find_first_not_of(' ');
  if (start == std::string::npos) return {};
  return out.substr(start, out.find_last_not_of(' ') - start + 1);
}

bool folder_taken(const RoomList& list, std::size_t except, std::string_view folder) {
  for (std::size_t i = 0; i < list.rooms.size(); ++i)
    if (i != except && app::equals_ignoring_ascii_case(list.rooms[i].folder, folder)) return true;
  return false;
}

}  // namespace

std::string Room::identity() const { return room_identity(link); }

bool Room::is(std::string_view other) const {
  return !other.empty() && (identity() == other || page == other);
}

std::optional<std::size_t> RoomList::find(std::string_view link) const {
  return find_identity(room_identity(link_in_text(link)));
}

std::optional<std::size_t> RoomList::find_identity(std::string_view identity) const {
  for (std::size_t i = 0; i < rooms.size(); ++i)
    if (rooms[i].is(identity)) return i;
  return std::nullopt;
}

AddOutcome add_room(RoomList& list, std::string_view link, std::string added_at) {
  const std::string address = link_in_text(link);
  if (room_identity(address).empty()) return {};
  if (const auto listed = list.find(address)) return {AddOutcome::What::kAlreadyListed, *listed};
  Room room;
  room.link = address;
  room.added = std::move(added_at);
  list.rooms.push_back(std::move(room));
  return {AddOutcome::What::kAdded, list.rooms.size() - 1};
}

std::optional<std::size_t> learn_room_page(RoomList& list, std::size_t index, std::string_view page_link) {
  const std::string page = room_identity(page_link);
  Room& room = list.rooms.at(index);
  if (page.empty() || page == room.identity()) return std::nullopt;
  room.page = page;
  for (std::size_t i = 0; i < list.rooms.size(); ++i)
    if (i != index && list.rooms[i].is(page)) return i;
  return std::nullopt;
}

void rename_room(RoomList& list, std::size_t index, std::string_view name) {
  list.rooms.at(index).name = one_line(name);
}

void name_room_from_page(RoomList& list, std::size_t index, std::string_view name) {
  if (list.rooms.at(index).name.empty()) rename_room(list, index, name);
}

const std::string& ensure_room_folder(RoomList& list, std::size_t index) {
  Room& room = list.rooms.at(index);
  if (!room.folder.empty()) return room.folder;
  std::string base = folder_name_for(room.name);
  if (base.empty()) {
    // Still unnamed (or named only with characters a file name cannot hold): the identity's hash
    // keeps it apart from every other room's.
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(stable_hash(room.identity())));
    base = "直播间_" + std::string(hex, 8);
  }
  std::string folder = base;
  for (int n = 2; folder_taken(list, index, folder); ++n) {
    const std::string suffix = " (" + std::to_string(n) + ")";
    folder = folder_name_for(base, kMaxFolderCharacters - suffix.size()) + suffix;
  }
  room.folder = folder;
  return room.folder;
}

std::optional<std::size_t> room_by_number_or_link(const RoomList& list, std::string_view which) {
  std::size_t number = 0;
  const auto [end, ec] = std::from_chars(which.data(), which.data() + which.size(), number);
  if (!which.empty() && ec == std::errc() && end == which.data() + which.size())
    return number >= 1 && number <= list.rooms.size() ? std::optional(number - 1) : std::nullopt;
  return list.find(which);
}

}  // namespace qz::watch
