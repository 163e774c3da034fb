#pragma once

namespace qz::platform {

// True on 64-bit Windows, where this 32-bit program runs under WOW64 and the system names a
// WOW64 system folder; false on 32-bit Windows and on every other system.
bool is_64bit_windows();

}  // namespace qz::platform
