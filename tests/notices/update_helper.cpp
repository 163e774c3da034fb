// Stands in for a downloaded new program version: when started it leaves "started.txt" in its
// own folder and ends.
#include "platform/fs.h"
#include "platform/paths.h"

int main() {
  const std::string folder = qz::platform::program_folder();
  return qz::platform::write_file(qz::platform::join_path(folder, "started.txt"), "started") ? 0 : 1;
}
