#pragma once
// What a front end may ask of the browser part beyond the window's buttons, and the display-box
// lines by which that part tells of a browser that failed (the command line watches for them).
#include <string>
#include <string_view>

namespace qz::app {

inline constexpr std::string_view kBrowserStartFailed = "浏览器启动失败：";
inline constexpr std::string_view kBrowserGone = "浏览器已退出";
inline constexpr std::string_view kAttachFailed = "连接已打开浏览器失败：";

// Implemented by the part named "capture".
class BrowserPart {
 public:
  virtual ~BrowserPart() = default;
  // Opens `address` in a new browser window with the replay list's desktop profile, as the
  // window's replay list does (the command line's replay link). Returns at once.
  virtual void open_replay_page(const std::string& address) = 0;
};

}  // namespace qz::app
