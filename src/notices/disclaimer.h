#pragma once
// The disclaimer shown at the first start for a user. Accepting it writes a hidden marker file,
// "agrx.dll", into the user's Documents folder; while any file of that name exists the box is not
// shown again. The marker holds GBK text, although its name ends in ".dll".
#include <string>

#include "app/desktop.h"

namespace qz::notices {

// The nine lines of the box, "\r\n" between them, none after the last (UTF-8).
std::string disclaimer_text();
// What the marker file holds: GBK bytes, no terminating NUL.
std::string disclaimer_marker_bytes();
// `documents_folder` + separator + "agrx.dll"; just "agrx.dll" when the folder is unknown.
std::string disclaimer_marker_path(const std::string& documents_folder);

// Shows the box unless the marker exists; OK (or an existing marker) writes the marker anew and
// hides it, Cancel writes nothing. Returns when the user has answered. Failures to write are
// silent: the box then comes again at the next start.
void show_disclaimer_once(app::Desktop& desktop, const std::string& documents_folder);
// The same for the user's Documents folder.
void show_disclaimer_once(app::Desktop& desktop);

}  // namespace qz::notices
