#pragma once
#include <memory>

#include "app/application.h"
#include "notices/service_notices.h"

namespace qz::notices {

// Fills the shell's hooks for the disclaimer and the service notices, and the click handlers of
// the notice area.
void install(app::Application& app);

// The service notices' part of install(): their hook and click handlers. Returns the object the
// handlers share, so a test can watch it or replace what closing the program does.
std::shared_ptr<ServiceNotices> install_service_notices(app::Application& app);

}  // namespace qz::notices
