// Conversion between the system ANSI code page and UTF-8. The ANSI code page is the
// character set of the process locale (after setlocale(LC_ALL, "")), or the one named by
// the environment variable VESTREL_ANSI_CODEPAGE (for example CP1252). A character that the
// target cannot represent becomes one '?', and so does each invalid input sequence.
// Stateless; any thread.
#pragma once

#include <string>

namespace platform {

std::string ConvertAnsiToUtf8(const std::string& ansi);
std::string ConvertUtf8ToAnsi(const std::string& utf8);

// The name of the ANSI code page in use, as given to the converter.
std::string AnsiCodePageName();
// True when the ANSI code page is UTF-8 itself (the conversions then only repair bad bytes).
bool AnsiCodePageIsUtf8();

}  // namespace platform
