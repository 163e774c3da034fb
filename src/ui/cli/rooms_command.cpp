#include "ui/cli/rooms_command.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "app/config.h"
#include "platform/system.h"
#include "ui/cli/cli.h"
#include "watch/check_pacer.h"
#include "watch/room_identity.h"
#include "watch/rooms_file.h"
#include "watch/shard.h"

namespace qz::ui {
namespace {

constexpr const char* kRoomsUsage =
    "用法：\n"
    "  qiongzhi rooms list [--shard K/N]         列出直播间（标出分片 K/N 之外的）\n"
    "  qiongzhi rooms add <直播间分享链接>...     加入直播间\n"
    "  qiongzhi rooms remove <序号或链接>         移除直播间\n"
    "  qiongzhi rooms on|off <序号或链接>         开启或暂停一个直播间的自动录制\n";

void out(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void err(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

std::string two_digits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

std::string now_text() {
  const platform::LocalTime t = platform::local_time_now();
  return std::to_string(t.year) + "-" + two_digits(t.month) + "-" + two_digits(t.day) + " " +
         two_digits(t.hour) + ":" + two_digits(t.minute) + ":" + two_digits(t.second);
}

std::string shown_name(const watch::Room& room) {
  return room.name.empty() ? "（未命名）" : room.name;
}

std::string room_label(std::size_t index, const watch::Room& room) {
  return "第 " + std::to_string(index + 1) + " 个直播间（" + (room.name.empty() ? "未命名" : room.name) + "，" +
         room.link + "）";
}

class RoomsCommand {
 public:
  explicit RoomsCommand(const std::string& program_folder)
      : folder_(program_folder), path_(watch::rooms_path(program_folder)) {}

  int run(const std::vector<std::string>& args) {
    const std::string what = args.empty() ? std::string() : args[0];
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    if (what == "list" && rest.empty()) return list({});
    if (what == "list" && rest.size() == 2 && rest[0] == "--shard") return list(rest[1]);
    if (what == "add" && !rest.empty()) return add(rest);
    if ((what == "remove" || what == "on" || what == "off") && rest.size() == 1) return change(what, rest[0]);
    err((what.empty() ? std::string("缺少 rooms 的命令。") : "rooms 的命令或参数不对：" + what) + "\n\n" + kRoomsUsage);
    return kCliUsage;
  }

 private:
  void load() {
    read_ = watch::load_rooms(path_);
    for (const std::string& problem : read_.problems) err("直播间列表 " + path_ + "：" + problem + "\n");
  }

  int save() {
    const bool had_problems = !read_.problems.empty();
    if (!watch::save_rooms(path_, read_.list, had_problems)) {
      err("无法写入直播间列表：" + path_ + "，列表没有改变\n");
      return kCliFolder;
    }
    if (had_problems) err("原来的直播间列表已另存为 " + path_ + ".bak\n");
    return kCliDone;
  }

  // `shard_option`: --shard's value, over the setting watch_shard.
  int list(const std::optional<std::string>& shard_option) {
    const app::Config config = app::Config::load(folder_);
    const std::string shard_text = shard_option.value_or(config.watch_shard);
    std::string shard_error;
    const auto shard = watch::parse_shard(shard_text, shard_error);
    if (!shard && shard_option) {
      err("--shard：" + shard_error + "\n");
      return kCliUsage;
    }
    if (!shard) err("watch_shard：" + shard_error + "\n");
    load();
    const watch::RoomList& list = read_.list;
    out(std::string("自动录制：") + (list.watching ? "开" : "关") + "\n");
    if (list.rooms.empty()) {
      out("直播间列表是空的。用 qiongzhi rooms add <分享链接> 加入。\n");
      return kCliDone;
    }
    std::size_t watched = 0;
    for (std::size_t i = 0; i < list.rooms.size(); ++i) {
      const watch::Room& room = list.rooms[i];
      const bool ours = !shard || watch::in_shard(room.identity(), *shard);
      watched += room.on && ours;
      std::string line = std::to_string(i + 1) + ". [" + (room.on ? "开" : "停") + "] " + shown_name(room) +
                         "  " + room.link;
      if (!room.folder.empty()) line += "  文件夹：" + room.folder;
      if (!room.added.empty()) line += "  加入于 " + room.added;
      if (!ours) line += "  （不在本副本的分片 " + shard_text + " 中）";
      out(line + "\n");
    }
    const auto round = watch::watch_round(watched, std::chrono::seconds(config.watch_every),
                                          std::chrono::seconds(config.watch_gap));
    out(watch::pace_line(watched, round) + "\n");
    return kCliDone;
  }

  int add(const std::vector<std::string>& links) {
    // Every link is looked at before anything is written: a script's typo adds nothing.
    for (const std::string& link : links) {
      if (watch::room_identity(watch::link_in_text(link)).empty()) {
        err("不是有效的链接（需要 http:// 或 https:// 开头）：" + link + "\n");
        return kCliUsage;
      }
    }
    load();
    bool changed = false;
    for (const std::string& link : links) {
      const auto outcome = watch::add_room(read_.list, link, now_text());
      const watch::Room& room = read_.list.rooms[outcome.index];
      if (outcome.what == watch::AddOutcome::What::kAdded) {
        out("已加入" + room_label(outcome.index, room) + "\n");
        changed = true;
      } else {
        out("已在列表中，没有重复加入：" + room_label(outcome.index, room) + "\n");
      }
    }
    return changed ? save() : kCliDone;
  }

  int change(const std::string& what, const std::string& which) {
    load();
    watch::RoomList& list = read_.list;
    const auto index = watch::room_by_number_or_link(list, which);
    if (!index) {
      err(unknown_room(which) + "\n");
      return kCliUsage;
    }
    const std::string label = room_label(*index, list.rooms[*index]);
    if (what == "remove") {
      list.rooms.erase(list.rooms.begin() + static_cast<std::ptrdiff_t>(*index));
      out("已移除" + label + "\n");
    } else {
      list.rooms[*index].on = what == "on";
      out(label + (what == "on" ? "已开启自动录制" : "已暂停自动录制") + "\n");
    }
    return save();
  }

  std::string unknown_room(const std::string& which) const {
    const std::size_t count = read_.list.rooms.size();
    if (!which.empty() && which.find_first_not_of("0123456789") == std::string::npos)
      return "没有第 " + which + " 个直播间：列表共有 " + std::to_string(count) + " 个（见 qiongzhi rooms list）";
    if (watch::room_identity(watch::link_in_text(which)).empty())
      return "请给出直播间的序号或链接：" + which;
    return "列表中没有这个直播间：" + which;
  }

  std::string folder_, path_;
  watch::RoomsRead read_;
};

}  // namespace

int run_rooms_command(const std::vector<std::string>& args, const std::string& program_folder) {
  return RoomsCommand(program_folder).run(args);
}

}  // namespace qz::ui
