#include "app/settings.h"

#include <vector>

#include "app/controls.h"
#include "app/ini_file.h"
#include "app/text_util.h"
#include "platform/text_codec.h"

namespace qz::app {
namespace {

bool is_excluded(std::string_view name, std::string_view exclusions) {
  std::size_t start = 0;
  while (start <= exclusions.size()) {
    auto bar = exclusions.find('|', start);
    if (bar == std::string_view::npos) bar = exclusions.size();
    if (exclusions.substr(start, bar - start) == name) return true;
    start = bar + 1;
  }
  return false;
}

}  // namespace

std::string encode_setting(std::string_view text) {
  return replace_all(replace_all(text, "\r\n", "><br><"), "\"", "#引号");
}

std::string decode_setting(std::string_view text) {
  return replace_all(replace_all(text, "><br><", "\r\n"), "#引号", "\"");
}

std::string main_settings_path(const Context& ctx) {
  return platform::join_path(ctx.path("data"), "mvx.ini");
}

std::string default_settings_path(const Context& ctx) {
  const std::string folder = ctx.path("data");
  if (!platform::is_directory(folder)) platform::make_directories(folder);
  return platform::join_path(folder, "setsoft.ini");
}

int save_edit_boxes(const Context& ctx, std::string path, std::string_view exclusions) {
  if (path.empty()) path = default_settings_path(ctx);
  const auto boxes = edit_boxes_in_control_order();
  std::string ini = platform::read_file(path).value_or(std::string());
  const std::string section = platform::utf8_to_gbk(kSettingsSection);
  for (std::string_view name : boxes) {
    if (is_excluded(name, exclusions)) continue;
    const std::string value = platform::utf8_to_gbk(encode_setting(ctx.window.text(name)));
    ini = ini_set(ini, section, platform::utf8_to_gbk(name), value);
  }
  // A folder that does not exist (or cannot be written) loses the save silently.
  platform::write_file(path, ini);
  return static_cast<int>(boxes.size());
}

int load_edit_boxes(const Context& ctx, std::string path) {
  if (path.empty()) path = default_settings_path(ctx);
  const auto boxes = edit_boxes_in_control_order();
  const auto ini = platform::read_file(path);
  if (!ini) return static_cast<int>(boxes.size());
  const std::string section = platform::utf8_to_gbk(kSettingsSection);
  for (std::string_view name : boxes) {
    const auto value = ini_get(*ini, section, platform::utf8_to_gbk(name));
    if (!value || value->empty()) continue;
    const std::string text = platform::gbk_to_utf8(gbk_prefix(*value, kMaxSettingBytes));
    ctx.window.set_text(name, decode_setting(text));
  }
  return static_cast<int>(boxes.size());
}

void on_save_settings_clicked(const Context& ctx) {
  save_edit_boxes(ctx, {}, kDisplayBox);
  ctx.desktop.message_box({.text = "设置保存成功"});
}

}  // namespace qz::app
