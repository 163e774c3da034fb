#pragma once
#include "app/application.h"

namespace qz::record {

// Adds the recording part: the recording buttons ("开始下载直播", "开始下载回放", "边下边播"),
// and at close every job stopped so its file is finished before the program ends.
void install(app::Application& app);

}  // namespace qz::record
