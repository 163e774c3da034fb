#include "record/display_writer.h"

#include <map>
#include <mutex>

namespace qz::record {
namespace {

// The routes, by window. Held while a line is carried, so a route that goes waits for it.
std::mutex routes_mutex;
std::map<const app::WindowModel*, app::JobReport>& routes() {
  static std::map<const app::WindowModel*, app::JobReport> by_window;
  return by_window;
}

}  // namespace

void replace_display_line(app::WindowModel& window, const std::string& prefix, const std::string& line) {
  std::lock_guard lock(routes_mutex);
  const auto it = routes().find(&window);
  if (it != routes().end())
    it->second.progress(prefix, line);
  else
    app::replace_progress_line(window, prefix, line);
}

ProgressRoute::ProgressRoute(app::WindowModel& window, const app::JobReport& report) : window_(window) {
  std::lock_guard lock(routes_mutex);
  routes()[&window] = report;
}

ProgressRoute::~ProgressRoute() {
  std::lock_guard lock(routes_mutex);
  routes().erase(&window_);
}

}  // namespace qz::record
