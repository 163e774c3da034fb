#pragma once
// Which certificate authorities the verified requests (update index and file, tools) trust. The
// system's store always counts; on Linux a PEM file named by the `ca_file` setting counts too (a
// company proxy's authority, or a maker server of one's own). The Windows program trusts the
// system's certificate store only, where such an authority is added the Windows way.
#include <string>

namespace qz::platform {

// "" = the system's authorities only. Process-wide; safe from any thread.
void set_extra_ca_file(const std::string& pem_file);
std::string extra_ca_file();

}  // namespace qz::platform
