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
  return c;
}

}  // namespace qz::app
