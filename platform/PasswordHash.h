// Checks a password against a stored one-way hash in the system's crypt format (bcrypt "$2b$"
// and the other methods the crypt library knows). Stateless; any thread: each call has a work
// area of its own.
#pragma once

#include <string>

namespace platform {

// True when password hashes to hash. False for a wrong password and for a hash that is
// malformed or of a method the library does not know.
bool PasswordMatchesHash(const std::string& password, const std::string& hash);

}  // namespace platform
