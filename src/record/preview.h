#pragma once
// "边下边播": ffplay on the UDP port of the job that runs, in a window of the size the user chose.
#include <string>

#include "app/context.h"

namespace qz::record {

// Live recordings send to 1111; before any job and during a replay download, 1112.
int preview_port(int job_kind);

// The width and height put on ffplay's command line: whole numbers only, else 360 and 640.
struct PreviewSize {
  std::string width, height;
};
PreviewSize preview_size(const std::string& width, const std::string& height);

// play.bat's two lines, without a line break after the second.
std::string preview_batch_text(int job_kind, const std::string& width, const std::string& height);

// The click: Windows writes play.bat (GBK, hidden) into the program folder and runs it through
// the shell with its window hidden; Linux starts ffplay itself with the same arguments.
void start_preview(app::Context& ctx, int job_kind);

}  // namespace qz::record
