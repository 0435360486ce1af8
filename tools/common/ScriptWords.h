// Reading the words of a simulator's command lines, script files and command-line values.
// Plain functions: any thread.
#pragma once

#include <string>
#include <vector>

namespace simtools {

// What one script line turned out to be.
enum class ParseResult { Empty, Command, Error };

// The words of a line, split on blanks; a word that starts with '#' ends the line.
std::vector<std::string> Words(const std::string& line);

// The same, where a double quote opens a part that runs to the next double quote, blanks and
// '#' included; the quotes themselves are dropped (name="Two Words" gives name=Two Words).
// False with *error set when a quote is left open.
bool QuotedWords(const std::string& line, std::vector<std::string>* words, std::string* error);

// A decimal number of seconds from 0 to 1,000,000.
bool ParseSeconds(const std::string& text, double* out);

// Decimal digits only (no sign), within [low, high].
bool ParseBoundedInt(const std::string& text, int low, int high, int* out);

}  // namespace simtools
