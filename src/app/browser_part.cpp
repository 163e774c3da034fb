#include "app/browser_part.h"

#include "app/display_box.h"

namespace qz::app {

void report_browser_failure(Context& ctx, const std::string& line) {
  write_display(ctx.window, line);
  ctx.jobs.end_every(JobKind::CaptureWait, JobEnding::BrowserFailed, line);
}

void report_browser_missing(Context& ctx, const std::string& message) {
  ctx.jobs.end_every(JobKind::CaptureWait, JobEnding::BrowserMissing, message);
}

}  // namespace qz::app
