// The TLS side of the simulated service: a server context with the certificate chain and
// private key from PEM files. Called once by the main thread before the io thread runs.
#pragma once

#include <boost/asio/ssl.hpp>
#include <memory>
#include <string>

namespace facesim {

// Null with *error set when a file cannot be read or the key does not fit the certificate.
std::unique_ptr<boost::asio::ssl::context> MakeServerTls(const std::string& certificateFile,
                                                         const std::string& keyFile,
                                                         std::string* error);

}  // namespace facesim
