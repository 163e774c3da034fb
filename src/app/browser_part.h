#pragma once
// What a front end may ask of the browser part beyond the window's buttons, and how that part
// tells of a browser that failed: a line in the display box, and the end of every wait for an
// address on the job board (the command line's), since none will come.
#include <string>
#include <string_view>

#include "app/context.h"

namespace qz::app {

inline constexpr std::string_view kBrowserStartFailed = "浏览器启动失败：";
inline constexpr std::string_view kBrowserGone = "浏览器已退出";
inline constexpr std::string_view kAttachFailed = "连接已打开浏览器失败：";

// The display box says `line` (starting with one of the texts above); the waits end BrowserFailed.
void report_browser_failure(Context& ctx, const std::string& line);
// No browser to start: the waits end BrowserMissing, saying `message` (the user's message box).
void report_browser_missing(Context& ctx, const std::string& message);

// Implemented by the part named "capture".
class BrowserPart {
 public:
  virtual ~BrowserPart() = default;
  // Opens `address` in a new browser window with the replay list's desktop profile, as the
  // window's replay list does (the command line's replay link). Returns at once.
  virtual void open_replay_page(const std::string& address) = 0;
};

}  // namespace qz::app
