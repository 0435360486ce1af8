#include "tools/facesim/ServerTls.h"

namespace facesim {

namespace ssl = boost::asio::ssl;

std::unique_ptr<ssl::context> MakeServerTls(const std::string& certificateFile,
                                            const std::string& keyFile, std::string* error) {
  auto context = std::make_unique<ssl::context>(ssl::context::tls_server);
  boost::system::error_code ec;
  context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                           ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                           ssl::context::no_tlsv1_1,
                       ec);
  if (!ec) context->use_certificate_chain_file(certificateFile, ec);
  if (ec) {
    *error = "--tls: certificate " + certificateFile + ": " + ec.message();
    return nullptr;
  }
  // The key is checked against the certificate as it is loaded.
  context->use_private_key_file(keyFile, ssl::context::pem, ec);
  if (ec) {
    *error = "--tls: private key " + keyFile + ": " + ec.message();
    return nullptr;
  }
  return context;
}

}  // namespace facesim
