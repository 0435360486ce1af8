// HTTP basic authentication of the metrics listener: checks the Authorization header of a
// request against the users of the web configuration (bcrypt hashes). A bcrypt check takes
// tens of milliseconds by design, so credentials that passed are remembered (as a SHA-256
// digest, never in clear) and pass again at once. One thread (the listener's I/O thread) uses
// an object; nothing is shared.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace metrics {

class BasicAuth {
 public:
  // Credentials remembered at most; the memory is forgotten as a whole when it is full.
  static constexpr std::size_t kRemembered = 32;

  explicit BasicAuth(std::map<std::string, std::string> users);

  // True when header ("Basic BASE64(user:password)") names a user and that user's password.
  bool Allows(std::string_view header);

 private:
  using Digest = std::array<unsigned char, 32>;

  const std::map<std::string, std::string> users_;  // user name: bcrypt hash
  std::set<Digest> passed_;                         // digests of headers that passed
};

}  // namespace metrics
