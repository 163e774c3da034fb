#pragma once
#include "app/application.h"

namespace qz::record {

// Registers the recording buttons ("开始下载直播", "开始下载回放", "边下边播") and the closing
// hook that stops every job so its file is finished before the program ends.
void install(app::Application& app);

}  // namespace qz::record
