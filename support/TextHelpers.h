// Conversion between the system ANSI code page and UTF-8 for the edges of the system
// (the event file, names from the face services). Any thread.
#pragma once

// Converts zero-terminated ANSI text. *out receives a new[] buffer, zero-terminated, that the
// caller releases with delete[]. Returns the UTF-8 bytes written, the terminator included.
// A null input is treated as empty text.
int AnsiToUtf8(const char* ansi, char** out);

// Converts zero-terminated UTF-8 text into a new[] buffer (never null) that the caller releases
// with delete[]. Invalid sequences and characters outside the code page become '?'.
char* Utf8ToAnsi(const char* utf8);
