#pragma once
#include "app/application.h"

namespace qz::capture {

// Adds the browser part: loading the component at start, initialising the browser when the
// window is created, stopping capture at close, and the click handlers of "打开直播间",
// "打开回放网址", "连接已打开浏览器" and "手动初始化".
void install(app::Application& app);

}  // namespace qz::capture
