// Reading INI files the way the host system's profile functions do: section and key
// matched without regard to case, the first matching key wins, blanks around a value and
// one pair of enclosing quotes removed, ';' starts a comment line, and a missing file,
// section or key gives the default. Stateless; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::string& file);

// An optional sign and decimal digits are read; anything after them is ignored. A value with
// no leading digits gives 0; a missing key gives the default.
int32_t GetProfileInt(const std::string& section, const std::string& key, int32_t defaultValue,
                      const std::string& file);

}  // namespace platform
