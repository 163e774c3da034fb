#include "record/install.h"

#include <memory>

#include "app/thread_group.h"
#include "record/recording_jobs.h"

namespace qz::record {
namespace {

class RecordSubsystem final : public app::Subsystem {
 public:
  explicit RecordSubsystem(app::Context& ctx) : jobs_(std::make_shared<RecordingJobs>(ctx)) {}
  ~RecordSubsystem() override { join(); }

  void register_clicks(app::WindowModel& window) {
    window.on_click(kLiveButton, [jobs = jobs_] { jobs->live_clicked(); });
    window.on_click(kReplayButton, [jobs = jobs_] { jobs->replay_clicked(); });
    window.on_click(app::kPreviewButton, [jobs = jobs_] { jobs->preview_clicked(); });
  }

  std::string_view name() const override { return "record"; }
  bool busy() override { return jobs_->busy(); }

  // The jobs' grace runs on a thread of its own, so the other parts stop at the same time.
  void request_stop() override {
    std::call_once(stop_requested_, [this] {
      stopper_.start([jobs = jobs_] { jobs->shutdown(); });
    });
  }
  void join() override {
    request_stop();
    stopper_.join_all();
  }

 private:
  std::shared_ptr<RecordingJobs> jobs_;
  std::once_flag stop_requested_;
  app::ThreadGroup stopper_;
};

}  // namespace

void install(app::Application& app) {
  auto part = std::make_unique<RecordSubsystem>(app.context());
  RecordSubsystem& added = *part;
  if (app.add(std::move(part))) added.register_clicks(app.context().window);
}

}  // namespace qz::record
