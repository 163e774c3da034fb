#pragma once
// Where the platform and the maker's servers are, and how the browser is started. Read once at
// start from data/config.ini (UTF-8, section [config]); QIONGZHI_<KEY> in the environment wins.
#include <string>

namespace qz::app {

struct Config {
  std::string live_host = "live.platform.invalid";
  std::string replay_cdn = "https://replay.platform.invalid";
  // "host[:port]" of the tool server, fetched over https; "http://host[:port]" names a plain
  // server the user chooses (a local one).
  std::string tool_host = "tools.maker.invalid";
  std::string update_primary = "https://update.maker.invalid/";
  std::string update_mirror1 = "https://mirror1.maker.invalid/";
  std::string update_mirror2 = "https://mirror2.maker.invalid/";
  std::string quote_url = "https://v1.hitokoto.cn/";
  std::string browser_download_host = "www.google.cn";
  std::string browser_path;
  std::string browser_flags;
  bool browser_headless = false;
  int browser_port = 9222;
  // A PEM file of certificate authorities trusted beside the system's for the verified requests
  // (update index and file, tools); Linux program only.
  std::string ca_file;
  int replay_connections = 16;  // parallel connections of an HLS replay download, 1 to 64
  // A live recording whose stream drops tries again for this long, saving into further parts.
  int reconnect_seconds = 180;
  // A running recording whose file has not grown for this long counts as dropped.
  int stall_seconds = 30;
  // After a live recording with several parts, the parts are joined into one more file.
  bool join_parts = false;

  // Watching rooms. Each room's page is loaded about every watch_every seconds (stretched so that
  // no two loads come closer than watch_gap), at most watch_tabs pages at once, each given
  // watch_page_seconds to show a stream.
  int watch_every = 120;
  int watch_page_seconds = 20;
  int watch_tabs = 2;
  int watch_gap = 3;
  int max_recordings = 8;  // recordings of watched rooms at once
  int min_free_mb = 2048;  // below this much free space in the download folder, none starts
  std::string webhook_url;  // told of each room going live, recording ending, checks failing
  std::string watch_shard;  // "K/N": this copy watches the rooms whose hash is K modulo N

  // Defaults, then the file under `program_folder`, then the environment.
  static Config load(const std::string& program_folder);
};

}  // namespace qz::app
