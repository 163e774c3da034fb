#include "app/desktop_shortcut.h"

#include "app/text_util.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/shortcut.h"

namespace qz::app {
namespace {

std::string_view file_name_part(std::string_view path, char separator) {
  const auto slash = path.rfind(separator);
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string shortcut_base_name(std::string_view name, char separator) {
  if (name.find(separator) == std::string_view::npos) return std::string(name);
  if (name.back() == separator) return {};
  const std::string_view file = file_name_part(name, separator);
  return std::string(file.substr(0, file.size() - path_extension(file, separator).size()));
}

std::string shortcut_file_name(std::string_view base, std::string_view extension) {
  if (contains_ignoring_ascii_case(base, extension)) return std::string(base);
  return std::string(base) + std::string(extension);
}

std::string_view path_extension(std::string_view path, char separator) {
  const std::string_view file = file_name_part(path, separator);
  const auto dot = file.rfind('.');
  return dot == std::string_view::npos ? std::string_view{} : file.substr(dot);
}

std::string shortcut_working_folder(std::string_view target, char separator) {
  const auto slash = target.rfind(separator);
  if (slash == std::string_view::npos) return {};
  return std::string(target.substr(0, slash + 1));
}

std::string shortcut_icon_location(const ShortcutRequest& request, char separator) {
  if (!request.icon_location.empty()) return request.icon_location;
  if (!path_extension(request.target, separator).empty()) return request.target + ",0";
  return "SHELL32.dll,4";
}

std::string launcher_icon(const ShortcutRequest& request) {
  if (request.icon_location.empty()) return "application-x-executable";
  const auto comma = request.icon_location.rfind(',');
  if (comma != std::string::npos &&
      request.icon_location.find_first_not_of("-0123456789", comma + 1) == std::string::npos)
    return request.icon_location.substr(0, comma);
  return request.icon_location;
}

bool create_shortcut_in(const std::string& folder, const ShortcutRequest& request) {
  constexpr char sep = platform::kSep;
  const std::string base = shortcut_base_name(request.name, sep);
  const std::string path =
      platform::join_path(folder, shortcut_file_name(base, platform::kShortcutExtension));
  if (platform::file_exists(path)) platform::remove_file(path);

  const std::string working_folder = shortcut_working_folder(request.target, sep);
  if (working_folder.empty()) return false;

  platform::ShortcutFile file;
  file.path = path;
  file.name = base;
  const std::string_view extension = platform::kShortcutExtension;
  if (base.size() >= extension.size() &&
      contains_ignoring_ascii_case(std::string_view(base).substr(base.size() - extension.size()), extension))
    file.name.resize(base.size() - extension.size());
  file.target = request.target;
  file.working_folder = working_folder;
  file.arguments = request.arguments;
  file.icon_location = sep == '\\' ? shortcut_icon_location(request, sep) : launcher_icon(request);
  file.window_style = request.window_style;
  file.description = request.description;
  file.hotkey = request.hotkey;
  return platform::write_shortcut(file);
}

bool create_desktop_shortcut(const ShortcutRequest& request) {
  return create_shortcut_in(platform::desktop_folder(), request);
}

}  // namespace qz::app
