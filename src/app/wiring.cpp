#include "app/application.h"

namespace qz::app {

// Each subsystem adds one line here that fills its hooks and click handlers.
void install_subsystems(Application& app) { (void)app; }

}  // namespace qz::app
