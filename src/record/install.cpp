#include "record/install.h"

#include <memory>

#include "record/recording_jobs.h"

namespace qz::record {
namespace {

// Lives inside the closing hook, so it goes when the application does (before its context):
// the jobs end and their threads are joined while the context they use still exists.
struct ShutdownGuard {
  std::shared_ptr<RecordingJobs> jobs;
  ~ShutdownGuard() { jobs->shutdown(); }
};

}  // namespace

void install(app::Application& app) {
  auto jobs = std::make_shared<RecordingJobs>(app.context());
  app::WindowModel& window = app.context().window;
  window.on_click(kLiveButton, [jobs] { jobs->live_clicked(); });
  window.on_click(kReplayButton, [jobs] { jobs->replay_clicked(); });
  window.on_click("按钮_播放", [jobs] { jobs->preview_clicked(); });
  std::shared_ptr<ShutdownGuard> guard(new ShutdownGuard{jobs});
  app.hooks().stop_recording_tools = [jobs, guard] { jobs->stop_all(std::chrono::seconds(10)); };
  app.hooks().recording_busy = [jobs] { return jobs->busy(); };
}

}  // namespace qz::record
