#pragma once
#include <string>

#include "app/application.h"

namespace qz::capture {

// Adds the browser part: loading the component at start, initialising the browser when the
// window is created, stopping capture at close, and the click handlers of "打开直播间",
// "打开回放网址", "连接已打开浏览器" and "手动初始化".
void install(app::Application& app);

// The command line's replay link: opens `address` in a new browser window with the replay list's
// desktop profile, as the window's replay list does. False when the browser part is not installed.
bool open_replay_page(app::Application& app, const std::string& address);

}  // namespace qz::capture
