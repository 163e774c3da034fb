#include "notices/install.h"

#include "notices/disclaimer.h"

namespace qz::notices {

void install(app::Application& app) {
  app::Context& ctx = app.context();
  app.hooks().show_disclaimer = [&ctx] { show_disclaimer_once(ctx.desktop); };
}

}  // namespace qz::notices
