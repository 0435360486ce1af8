// Access control of the metrics listener, from a web configuration file in the form that
// Prometheus exporters read: TLS with a certificate and key, and HTTP basic authentication
// against bcrypt hashes. Only a small fixed subset of that YAML form is read (see
// ParseWebConfig); anything else is refused, so that the listener never serves in clear when
// access control was asked for. Pure functions and plain data; any thread.
#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace metrics {

struct WebConfig {
  std::string certFile;  // PEM certificate chain; TLS when set (then keyFile is set too)
  std::string keyFile;   // PEM private key
  std::map<std::string, std::string> users;  // user name: bcrypt hash ("$2a$", "$2b$", "$2y$")

  bool Tls() const { return !certFile.empty(); }
  bool BasicAuth() const { return !users.empty(); }
  // "TLS and basic auth (2 users)", "TLS", "basic auth (1 user)".
  std::string Summary() const;
};

constexpr std::size_t kMaxWebConfigBytes = 64 * 1024;

// Reads text of this form (comments, blank lines and quoted values allowed; any indentation
// of the second level):
//
//   tls_server_config:
//     cert_file: server.crt
//     key_file: server.key
//   basic_auth_users:
//     alice: $2b$10$...
//
// At least one of the two sections; both files when there is TLS. Relative file names are
// taken from folder (the folder of the file, ending in '/'). False, with the reason in *error,
// for anything else.
bool ParseWebConfig(const std::string& text, const std::string& folder, WebConfig* config,
                    std::string* error);

// Reads the file (at most kMaxWebConfigBytes) and parses it.
bool LoadWebConfig(const std::string& path, WebConfig* config, std::string* error);

}  // namespace metrics
