#include "metrics/BasicAuth.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include "platform/PasswordHash.h"

namespace metrics {

namespace {

constexpr std::string_view kScheme = "Basic ";
// A header longer than this is not a user and password of ours (the request headers are
// bounded anyway).
constexpr std::size_t kMaxEncodedLength = 1024;

// The decoded "user:password"; false when text is not padded base64.
bool DecodeBase64(std::string_view text, std::string* decoded) {
  if (text.empty() || text.size() % 4 != 0 || text.size() > kMaxEncodedLength) return false;
  unsigned char out[kMaxEncodedLength];
  const int length = EVP_DecodeBlock(out, reinterpret_cast<const unsigned char*>(text.data()),
                                     static_cast<int>(text.size()));
  if (length < 0) return false;
  // The decoder counts the bytes that the padding stands for.
  const std::size_t padding = (text.back() == '=' ? 1 : 0) + (text[text.size() - 2] == '=' ? 1 : 0);
  decoded->assign(reinterpret_cast<const char*>(out), static_cast<std::size_t>(length) - padding);
  return true;
}

}  // namespace

BasicAuth::BasicAuth(std::map<std::string, std::string> users) : users_(std::move(users)) {}

bool BasicAuth::Allows(std::string_view header) {
  if (users_.empty() || header.substr(0, kScheme.size()) != kScheme) return false;
  header.remove_prefix(kScheme.size());
  Digest digest;
  SHA256(reinterpret_cast<const unsigned char*>(header.data()), header.size(), digest.data());
  if (passed_.count(digest) != 0) return true;

  std::string credentials;
  if (!DecodeBase64(header, &credentials)) return false;
  const std::size_t colon = credentials.find(':');
  if (colon == std::string::npos) return false;
  const auto user = users_.find(credentials.substr(0, colon));
  // An unknown user costs a check as well, so that the time taken does not tell which
  // users exist.
  const std::string& hash = user != users_.end() ? user->second : users_.begin()->second;
  const bool matches = platform::PasswordMatchesHash(credentials.substr(colon + 1), hash);
  if (!matches || user == users_.end()) return false;
  if (passed_.size() >= kRemembered) passed_.clear();
  passed_.insert(digest);
  return true;
}

}  // namespace metrics
