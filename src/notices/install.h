#pragma once
#include "app/application.h"

namespace qz::notices {

// Fills the shell's hooks for the disclaimer and the service notices, and the click handlers of
// the notice area.
void install(app::Application& app);

}  // namespace qz::notices
