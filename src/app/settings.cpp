#include "app/settings.h"

#include <optional>
#include <utility>
#include <vector>

#include "app/controls.h"
#include "app/display_box.h"
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

// The GBK bytes of `text` when GBK holds every character of it; the conversion would otherwise
// put '?' in their place and the next start would read a different text.
std::optional<std::string> gbk_exactly(const std::string& text) {
  std::string gbk = platform::utf8_to_gbk(text);
  if (platform::gbk_to_utf8(gbk) != text) return std::nullopt;
  return gbk;
}

// The name users know a box by (the label beside it).
std::string_view box_caption(std::string_view name) {
  static constexpr std::pair<std::string_view, std::string_view> kCaptions[] = {
      {kShareLinkBox, "琼枝直播分享链接"},  {kLiveAddressBox, "直播真实地址"},
      {kReplayAddressBox, "回放真实地址"},  {kDownloadFolderBox, "视频保存位置"},
      {kPreviewWidthBox, "宽度"},          {kPreviewHeightBox, "高度"},
      {kBrowserPathBox, "浏览器路径"},      {kDisplayBox, "显示框"},
  };
  for (const auto& [box, caption] : kCaptions)
    if (box == name) return caption;
  return name;
}

void report_unsaved(WindowModel& window, std::string_view name, bool computed_default) {
  std::string line = "「" + std::string(box_caption(name)) +
                     "」没有保存：其中有 GBK 编码存不下的字符，保存后会变成“?”。";
  line += computed_default ? "下次启动时重新使用默认目录。" : "已保留原来保存的内容。";
  write_display(window, line);
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

SettingsSave save_settings(const Context& ctx, std::string path, std::string_view exclusions) {
  if (path.empty()) path = default_settings_path(ctx);
  SettingsSave outcome;
  std::string ini = platform::read_file(path).value_or(std::string());
  const std::string section = platform::utf8_to_gbk(kSettingsSection);
  for (std::string_view name : edit_boxes_in_control_order()) {
    if (is_excluded(name, exclusions)) continue;
    const std::string text = ctx.window.text(name);
    const auto value = gbk_exactly(encode_setting(text));
    if (!value) {
      outcome.unsaved_boxes.emplace_back(name);
      const bool computed_default = name == kDownloadFolderBox && text == ctx.path("down");
      if (computed_default) ini = ini_set(ini, section, platform::utf8_to_gbk(name), "");
      report_unsaved(ctx.window, name, computed_default);
      continue;
    }
    ini = ini_set(ini, section, platform::utf8_to_gbk(name), *value);
  }
  // A folder that does not exist (or cannot be written) loses this save; the old file stays whole.
  outcome.written = platform::write_file_atomically(path, ini);
  return outcome;
}

int save_edit_boxes(const Context& ctx, std::string path, std::string_view exclusions) {
  save_settings(ctx, std::move(path), exclusions);
  return static_cast<int>(edit_boxes_in_control_order().size());
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

void resolve_download_folder(const Context& ctx) {
  ctx.window.update_text(kDownloadFolderBox, [&ctx](const std::string& folder) {
    if (folder.empty() || platform::is_absolute_path(folder)) return folder;
    std::string_view relative = folder;
    while (relative.size() >= 2 && relative[0] == '.' && (relative[1] == '/' || relative[1] == platform::kSep))
      relative.remove_prefix(2);
    return ctx.path(relative);
  });
}

void on_save_settings_clicked(const Context& ctx) {
  const SettingsSave outcome = save_settings(ctx, {}, kDisplayBox);
  if (!outcome.written)
    ctx.desktop.message_box({.text = "设置保存失败：无法写入 " + default_settings_path(ctx) + "，原来的设置没有改变"});
  else if (!outcome.unsaved_boxes.empty())
    ctx.desktop.message_box({.text = "部分设置没有保存，原因见显示框"});
  else
    ctx.desktop.message_box({.text = "设置保存成功"});
}

}  // namespace qz::app
