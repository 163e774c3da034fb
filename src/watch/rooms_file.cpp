#include "watch/rooms_file.h"

#include <set>

#include "app/ini_file.h"
#include "app/text_util.h"
#include "platform/fs.h"
#include "watch/folder_name.h"

namespace qz::watch {
namespace {

constexpr std::string_view kWatchSection = "watch";
constexpr std::string_view kWatchingKey = "自动录制";

constexpr std::string_view kHeader =
    "; 琼枝直播下载的直播间列表（UTF-8）。可以手工编辑，编辑前请先退出程序。\r\n"
    "; 每个直播间一节：link 分享链接，name 名称（空着时取直播间页面上的名字），on 为 1 时自动录制、\r\n"
    "; 为 0 时暂停，added 加入时间，folder 录像保存在下载目录下的这个文件夹里。\r\n";

std::string line_label(std::size_t line) { return "第 " + std::to_string(line) + " 行"; }

// A value as ini_get will read it back: blanks at either end or a pair of enclosing quotes would
// be taken off, so such a value is written inside one more pair of quotes.
std::string written_value(const std::string& value) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
  if (!value.empty() && (blank(value.front()) || blank(value.back()) || quoted)) return "\"" + value + "\"";
  return value;
}

std::optional<bool> switch_value(const std::string& value) {
  if (value == "1") return true;
  if (value == "0") return false;
  return std::nullopt;
}

void read_watch_section(const app::IniSection& section, RoomList& list, std::vector<std::string>& problems) {
  for (const app::IniEntry& entry : section.entries) {
    const auto on = app::equals_ignoring_ascii_case(entry.key, kWatchingKey) ? switch_value(entry.value) : std::nullopt;
    if (on) list.watching = *on;
    else problems.push_back(line_label(entry.line) + "看不懂（" + entry.key + "=" + entry.value + "），已跳过");
  }
}

// Sets one field of a room from its entry; false when the entry is not one of a room's.
bool read_room_entry(const app::IniEntry& entry, Room& room, std::vector<std::string>& problems) {
  const std::string key = app::ascii_lower(entry.key);
  if (key == "link") room.link = entry.value;
  else if (key == "name") room.name = entry.value;
  else if (key == "added") room.added = entry.value;
  else if (key == "page") room.page = entry.value;
  else if (key == "on") {
    const auto on = switch_value(entry.value);
    if (!on) return false;
    room.on = *on;
  } else if (key == "folder") {
    room.folder = folder_name_for(entry.value);
    if (room.folder != entry.value && !entry.value.empty())
      problems.push_back(line_label(entry.line) + "的文件夹名不能用作文件名，改为“" + room.folder + "”");
  } else {
    return false;
  }
  return true;
}

void read_room_section(const app::IniSection& section, RoomList& list, std::set<std::string>& folders,
                       std::vector<std::string>& problems) {
  Room room;
  for (const app::IniEntry& entry : section.entries)
    if (!read_room_entry(entry, room, problems))
      problems.push_back(line_label(entry.line) + "看不懂（" + entry.key + "=" + entry.value + "），已跳过");
  const std::string identity = room.identity();
  if (identity.empty()) {
    problems.push_back(line_label(section.line) + "的直播间 [" + section.name + "] 没有可用的链接，已跳过");
    return;
  }
  if (list.find_identity(identity) || list.find_identity(room.page)) {
    problems.push_back(line_label(section.line) + "的直播间 [" + section.name + "] 已经在列表里，已跳过");
    return;
  }
  // Two rooms must never share a folder; the later one is given its own when it next needs one.
  if (!room.folder.empty() && !folders.insert(app::ascii_lower(room.folder)).second) room.folder.clear();
  list.rooms.push_back(std::move(room));
}

}  // namespace

RoomsRead parse_rooms(std::string_view text) {
  RoomsRead out;
  std::string_view whole = text;
  if (const std::size_t last_break = text.find_last_of("\r\n"); last_break + 1 != text.size()) {
    whole = last_break == std::string_view::npos ? std::string_view() : text.substr(0, last_break + 1);
    std::size_t lines = 1;
    for (const char c : whole) lines += c == '\n';
    out.problems.push_back(line_label(lines) + "不完整（文件被截断），已跳过");
  }
  const app::IniText ini = app::ini_read_all(whole);
  for (const std::size_t line : ini.unreadable_lines)
    out.problems.push_back(line_label(line) + "看不懂，已跳过");
  std::set<std::string> folders;
  for (const app::IniSection& section : ini.sections) {
    if (app::equals_ignoring_ascii_case(section.name, kWatchSection)) read_watch_section(section, out.list, out.problems);
    else read_room_section(section, out.list, folders, out.problems);
  }
  return out;
}

std::string format_rooms(const RoomList& list) {
  std::string out(kHeader);
  out += "[watch]\r\n" + std::string(kWatchingKey) + "=" + (list.watching ? "1" : "0") + "\r\n";
  for (std::size_t i = 0; i < list.rooms.size(); ++i) {
    const Room& room = list.rooms[i];
    out += "\r\n[直播间" + std::to_string(i + 1) + "]\r\n";
    out += "link=" + written_value(room.link) + "\r\n";
    out += "name=" + written_value(room.name) + "\r\n";
    out += std::string("on=") + (room.on ? "1" : "0") + "\r\n";
    out += "added=" + written_value(room.added) + "\r\n";
    out += "folder=" + written_value(room.folder) + "\r\n";
    if (!room.page.empty()) out += "page=" + written_value(room.page) + "\r\n";
  }
  return out;
}

std::string rooms_path(const std::string& program_folder) {
  return platform::join_path(platform::join_path(program_folder, "data"), "rooms.ini");
}

RoomsRead load_rooms(const std::string& path) {
  const auto text = platform::read_file(path);
  if (!text) return {};
  return parse_rooms(*text);
}

bool save_rooms(const std::string& path, const RoomList& list, bool had_problems) {
  if (had_problems) {
    if (const auto before = platform::read_file(path))
      if (!platform::write_file_atomically(path + ".bak", *before)) return false;
  }
  const std::string folder = path.substr(0, path.find_last_of(platform::kSep));
  if (!platform::is_directory(folder)) platform::make_directories(folder);
  return platform::write_file_atomically(path, format_rooms(list));
}

}  // namespace qz::watch
