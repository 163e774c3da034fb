#include "program/wiring.h"

#include "capture/install.h"
#include "notices/install.h"
#include "record/install.h"
#include "provisioning/tool_provisioning.h"

namespace qz::program {

// Each part adds one line here. Closing joins them in the reverse of this order.
void install_subsystems(app::Application& app) {
  notices::install(app);
  record::install(app);
  provisioning::install_tool_provisioning(app);
  capture::install(app);
}

}  // namespace qz::program
