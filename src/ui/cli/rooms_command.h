#pragma once
// `qiongzhi rooms list|add|remove|on|off`: the room list (data/rooms.ini) seen and changed from
// the command line. Needs no browser and starts none of the program's parts.
#include <string>
#include <vector>

namespace qz::ui {

// `args` are what follows "rooms". Output goes to stdout, problems to stderr; the exit code is
// one of CliExit's.
int run_rooms_command(const std::vector<std::string>& args, const std::string& program_folder);

}  // namespace qz::ui
