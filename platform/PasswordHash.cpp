#include "platform/PasswordHash.h"

#include <crypt.h>

#include <memory>

namespace platform {

bool PasswordMatchesHash(const std::string& password, const std::string& hash) {
  // The work area is about 32 KiB: too large for a thread's stack.
  auto data = std::make_unique<crypt_data>();
  const char* computed = ::crypt_r(password.c_str(), hash.c_str(), data.get());
  // A failure gives null or a text starting with '*', which never equals a stored hash.
  if (computed == nullptr || computed[0] == '*') return false;
  const std::string result(computed);
  if (result.size() != hash.size()) return false;
  // The whole length is compared, so that the time taken tells nothing about the hash.
  unsigned char difference = 0;
  for (std::size_t i = 0; i < result.size(); ++i) {
    difference |= static_cast<unsigned char>(result[i] ^ hash[i]);
  }
  return difference == 0;
}

}  // namespace platform
