#include "notices/install.h"

#include "app/controls.h"
#include "notices/disclaimer.h"
#include "platform/system.h"

namespace qz::notices {

std::shared_ptr<ServiceNotices> install_service_notices(app::Application& app) {
  app::Context& ctx = app.context();
  auto notices = std::make_shared<ServiceNotices>(
      ctx, [&app](std::function<void()> body) { app.start_thread(std::move(body)); });
  notices->close_program = [&app] {
    app.window_closing();
    platform::exit_process_now(0);
  };
  app.hooks().start_service_notices = [notices] { notices->start(); };
  ctx.window.on_click(app::kOpenNewVersionButton, [notices] { notices->on_open_new_version(); });
  ctx.window.on_click(app::kAdvertPicture, [notices] { notices->on_advert_clicked(); });
  return notices;
}

void install(app::Application& app) {
  app::Context& ctx = app.context();
  app.hooks().show_disclaimer = [&ctx] { show_disclaimer_once(ctx.desktop); };
  install_service_notices(app);
}

}  // namespace qz::notices
