#include "app/application.h"
#include "capture/install.h"
#include "notices/install.h"
#include "record/install.h"
#include "record/tool_provisioning.h"

namespace qz::app {

// Each subsystem adds one line here that fills its hooks and click handlers.
void install_subsystems(Application& app) {
  notices::install(app);
  record::install(app);
  record::install_tool_provisioning(app);
  capture::install(app);
}

}  // namespace qz::app
