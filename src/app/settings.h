#pragma once
// The user's settings are the texts of the main window's edit boxes, kept in GBK INI files:
// data/mvx.ini (written at close, read at creation) and data/setsoft.ini ("保存配置").
#include <string>
#include <string_view>
#include <vector>

#include "app/context.h"
#include "app/controls.h"

namespace qz::app {

inline constexpr std::string_view kSettingsSection = "编辑框";
// Longest value a load takes, in GBK bytes; longer ones are cut.
inline constexpr std::size_t kMaxSettingBytes = 10239;

std::string encode_setting(std::string_view text);  // "\r\n" → "><br><", then '"' → "#引号"
std::string decode_setting(std::string_view text);  // "><br><" → "\r\n", then "#引号" → '"'

std::string main_settings_path(const Context& ctx);  // data/mvx.ini
// data/setsoft.ini, after making sure the data folder exists with its parents.
std::string default_settings_path(const Context& ctx);

// How a save went.
struct SettingsSave {
  bool written = false;  // false: the file could not be written and holds what it held before
  // Boxes whose text GBK cannot hold: never written lossy, their saved value stays as it was
  // (a download folder that is the computed default is cleared instead, so the next start
  // computes it again). The display box names each one and says why.
  std::vector<std::string> unsaved_boxes;
};

// Saves the boxes into the INI file at `path` (empty: the default path), the whole file or
// nothing. `exclusions` is a "|"-separated list of box names not to save.
SettingsSave save_settings(const Context& ctx, std::string path, std::string_view exclusions);

// Both return the number of edit boxes of the window, excluded ones included. An empty path
// means the default path.
int save_edit_boxes(const Context& ctx, std::string path, std::string_view exclusions);
int load_edit_boxes(const Context& ctx, std::string path);

// A relative download folder in its box is made absolute against the program folder, so the
// folder made and the folder the tools write into are one. Called before anything uses it.
void resolve_download_folder(const Context& ctx);

// "保存配置".
void on_save_settings_clicked(const Context& ctx);

}  // namespace qz::app
