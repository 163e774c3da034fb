#pragma once
// Which room a link names. The platform hands out several links for one room: a short share link
// that redirects to the room's page, the page itself over http or https, with or without "www."
// or the phone site's "m.", with tracking parameters that change with every share. The identity
// keeps what names the room and drops the rest, so the same room is never listed twice.
#include <string>
#include <string_view>

namespace qz::watch {

// "host[:port]/path[?query]": the host in lower case without "www." or "m.", the port only when it
// is not the scheme's own, the path without a trailing "/", the query's parameters sorted with the
// tracking ones (utm_*, share_*, from, timestamp, ...) left out, no fragment. The scheme is not part
// of it. Empty when `link` is not an http or https address.
std::string room_identity(std::string_view link);

// The first http or https address in a text pasted from the platform's share button ("【店名】
// https://... 复制此链接，打开看看"), ending at the first blank, quote or non-ASCII character; the
// text itself, trimmed, when it holds none.
std::string link_in_text(std::string_view text);

}  // namespace qz::watch
