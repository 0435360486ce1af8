// Text that came from a peer (a face service, a camera, a file that another system wrote) made
// safe for the places that write it out: one log line, one value of an event file, and one
// string of a JSON document.
// Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The text with CR, LF and every other control character (and DEL) escaped as "\r", "\n" and
// "\xNN", so that a peer can never start a line of its own in the log. Everything else, bytes
// of any code page included, is kept as it is.
std::string LogSafe(std::string_view peerText);

// The text, read as UTF-8, as an XML 1.0 document may hold it: each C0 control other than
// tab, LF and CR, each U+FFFE and U+FFFF, and each byte sequence that is not valid UTF-8
// (surrogates and overlong forms included) becomes one U+FFFD. The result ends after its
// first maxChars characters, so it is never cut inside one.
std::string XmlSafe(std::string_view peerText, std::size_t maxChars);

// The text, read as UTF-8, with each byte sequence that is not valid UTF-8 replaced as XmlSafe
// replaces it (one U+FFFD each) and everything else kept, control characters included: what
// a JSON string may hold once its writer has escaped the controls.
std::string ValidUtf8(std::string_view peerText);
