#pragma once
// What every part of the program shares: the window's texts, the front end, the program folder,
// the configuration and the job board. One instance lives for the whole run.
#include <string>
#include <string_view>

#include "app/config.h"
#include "app/desktop.h"
#include "app/job_board.h"
#include "app/window_model.h"
#include "platform/fs.h"

namespace qz::app {

struct Context {
  WindowModel& window;
  Desktop& desktop;
  std::string program_folder;  // native separators, no trailing separator
  Config config;
  std::string ffmpeg_path;  // set by the window-created handler
  JobBoard jobs;            // every job of the run; the front ends read it

  // program folder + separator + `relative` (which may itself use the native separator).
  std::string path(std::string_view relative) const {
    return platform::join_path(program_folder, relative);
  }
};

}  // namespace qz::app
