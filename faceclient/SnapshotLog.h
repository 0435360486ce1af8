// The face clients' per-snapshot DEBUG lines ("Process face snapshot: ... @N===="). Each line
// has a fixed size; a longer text (a long response body) is cut in the middle so that it
// never exceeds the size and still ends in its "@N====" marker. The level is checked before
// anything is formatted. Stateless; any thread.
#pragma once

#include <cstddef>
#include <string>

// Sizes of the line buffers, terminator included.
constexpr std::size_t kSnapshotLineLong = 1024;
constexpr std::size_t kSnapshotLineBody = 1023;
constexpr std::size_t kSnapshotLineShort = 200;

// Cuts text to at most maxChars characters, keeping a trailing marker that starts at the last
// '@' (when there is one within the last 16 characters).
std::string CutKeepingMarker(const std::string& text, std::size_t maxChars);

// Formats the line for a buffer of bufferSize characters and logs it at DEBUG.
void LogSnapshotLine(std::size_t bufferSize, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
