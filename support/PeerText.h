// Text that came from a peer (a face service, a camera, a file that another system wrote) made
// safe for the two places that write it out: one log line, and one value of an event file.
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

// The text with CR, LF and every other control character (and DEL) escaped as "\r", "\n" and
// "\xNN", so that a peer can never start a line of its own in the log. Everything else, bytes
// of any code page included, is kept as it is.
std::string LogSafe(std::string_view peerText);
