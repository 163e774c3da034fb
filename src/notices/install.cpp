#include "notices/install.h"

#include "app/controls.h"
#include "app/thread_group.h"
#include "notices/disclaimer.h"
#include "platform/system.h"

namespace qz::notices {
namespace {

// The notice threads and the update's download belong to this part; closing stops the download
// and joins them (their requests time out on their own, none waits on the user once the window
// is gone).
class NoticesSubsystem final : public app::Subsystem {
 public:
  explicit NoticesSubsystem(app::Context& ctx)
      : ctx_(ctx),
        notices_(std::make_shared<ServiceNotices>(
            ctx, [this](std::function<void()> body) { threads_.start(std::move(body)); }, downloader_)) {}
  ~NoticesSubsystem() override {
    downloader_.RequestStop();
    join();
  }

  std::string_view name() const override { return "notices"; }
  void startup_boxes() override { show_disclaimer_once(ctx_.desktop); }
  void startup_work() override { notices_->start(); }
  void request_stop() override { downloader_.RequestStop(); }
  void join() override {
    threads_.join_all();
    downloader_.Join();
  }

  const std::shared_ptr<ServiceNotices>& notices() const { return notices_; }

 private:
  app::Context& ctx_;
  app::ThreadGroup threads_;  // before notices_: the threads' owner outlives what starts them
  net::FileDownloader downloader_;  // after threads_: joined once no notice thread can start a task
  std::shared_ptr<ServiceNotices> notices_;
};

}  // namespace

std::shared_ptr<ServiceNotices> install_service_notices(app::Application& app) {
  app::Context& ctx = app.context();
  auto part = std::make_unique<NoticesSubsystem>(ctx);
  std::shared_ptr<ServiceNotices> notices = part->notices();
  if (!app.add(std::move(part))) return nullptr;
  // The update closes the program as the user's close does, so the window goes at once and the
  // recordings are finished in the background; without a window, the same background close.
  notices->close_program = [&app] {
    if (!app.context().desktop.close_window()) app.close_in_background([] { platform::exit_process_now(0); });
  };
  ctx.window.on_click(app::kOpenNewVersionButton, [notices] { notices->on_open_new_version(); });
  ctx.window.on_click(app::kAdvertPicture, [notices] { notices->on_advert_clicked(); });
  return notices;
}

void install(app::Application& app) { install_service_notices(app); }

}  // namespace qz::notices
