// printf-style formatting into a std::string. Stateless; any thread.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// Formats without a length limit.
std::string StringFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Formats at most maxChars characters (the rest is cut), for the fixed-size log lines.
std::string StringFormatLimited(std::size_t maxChars, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
std::string StringFormatV(std::size_t maxChars, const char* format, va_list args);
