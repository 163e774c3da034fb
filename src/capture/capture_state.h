#pragma once
// The browser state that browser control and the capture handler share.
#include <atomic>
#include <mutex>

#include "capture/automation.h"

namespace qz::capture {

struct CaptureState {
  // Result of the latest form_global_init; non-zero when a browser is usable.
  std::atomic<int> browser_ready{0};
  // The newest page announced by the component; 0 until the first one.
  std::atomic<PageHandle> current_page{0};
  // Makes the handling of one request event exclusive. It lives as long as the capture
  // subsystem, which stops the component's event delivery before it goes away, so no event can
  // reach a lock that is gone.
  std::mutex capture_lock;
};

}  // namespace qz::capture
