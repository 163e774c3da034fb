#pragma once
// The composition root: the one place that knows every part of the program.
#include "app/application.h"

namespace qz::program {

// Adds every part of the program to `app`, in install order; the programs call it right after
// constructing the application.
void install_subsystems(app::Application& app);

}  // namespace qz::program
