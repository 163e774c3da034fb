#include "platform/os_info.h"

namespace qz::platform {

bool is_64bit_windows() { return false; }

}  // namespace qz::platform
