#pragma once
#include <memory>

#include "app/application.h"
#include "notices/service_notices.h"

namespace qz::notices {

// Adds the notices part: the disclaimer at the start-up step, the service notices after it, and
// the click handlers of the notice area.
void install(app::Application& app);

// The same. Returns the object the notice threads and handlers share (null when the part was
// installed before), so a test can watch it or replace what closing the program does.
std::shared_ptr<ServiceNotices> install_service_notices(app::Application& app);

}  // namespace qz::notices
