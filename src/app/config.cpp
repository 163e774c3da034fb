#include "app/config.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "app/ini_file.h"
#include "app/text_util.h"
#include "platform/fs.h"
#include "platform/system.h"

namespace qz::app {
namespace {

class Source {
 public:
  explicit Source(std::string file) : file_(std::move(file)) {}

  std::optional<std::string> get(const std::string& key) const {
    if (auto env = platform::get_env("QIONGZHI_" + ascii_upper(key))) return env;
    return ini_get(file_, "config", key);
  }
  void read(const std::string& key, std::string& into) const {
    if (auto v = get(key)) into = *v;
  }
  void read(const std::string& key, bool& into) const {
    if (auto v = get(key)) into = (*v == "1" || *v == "true" || *v == "yes");
  }
  void read(const std::string& key, int& into) const {
    auto v = get(key);
    int parsed = 0;
    if (v && std::from_chars(v->data(), v->data() + v->size(), parsed).ec == std::errc())
      into = parsed;
  }

 private:
  std::string file_;
};

}  // namespace

Config Config::load(const std::string& program_folder) {
  const std::string path = platform::join_path(platform::join_path(program_folder, "data"), "config.ini");
  const Source source(platform::read_file(path).value_or(std::string()));
  Config c;
  source.read("live_host", c.live_host);
  source.read("replay_cdn", c.replay_cdn);
  source.read("tool_host", c.tool_host);
  source.read("update_primary", c.update_primary);
  source.read("update_mirror1", c.update_mirror1);
  source.read("update_mirror2", c.update_mirror2);
  source.read("quote_url", c.quote_url);
  source.read("browser_download_host", c.browser_download_host);
  source.read("browser_path", c.browser_path);
  source.read("browser_flags", c.browser_flags);
  source.read("browser_headless", c.browser_headless);
  source.read("browser_port", c.browser_port);
  source.read("ca_file", c.ca_file);
  source.read("replay_connections", c.replay_connections);
  c.replay_connections = std::clamp(c.replay_connections, 1, 64);
  source.read("reconnect_seconds", c.reconnect_seconds);
  source.read("stall_seconds", c.stall_seconds);
  source.read("join_parts", c.join_parts);
  source.read("watch_every", c.watch_every);
  c.watch_every = std::max(c.watch_every, 1);
  source.read("watch_page_seconds", c.watch_page_seconds);
  c.watch_page_seconds = std::max(c.watch_page_seconds, 1);
  source.read("watch_tabs", c.watch_tabs);
  c.watch_tabs = std::clamp(c.watch_tabs, 1, 16);
  source.read("watch_gap", c.watch_gap);
  c.watch_gap = std::max(c.watch_gap, 0);
  source.read("max_recordings", c.max_recordings);
  c.max_recordings = std::max(c.max_recordings, 1);
  source.read("min_free_mb", c.min_free_mb);
  c.min_free_mb = std::max(c.min_free_mb, 0);
  source.read("webhook_url", c.webhook_url);
  source.read("watch_shard", c.watch_shard);
  return c;
}

}  // namespace qz::app
