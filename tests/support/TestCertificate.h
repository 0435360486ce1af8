// Test helper: a self-signed certificate for a TLS face service on loopback, made at test time
// in a folder (cert.pem, key.pem). It is its own CA: a client given cert.pem as its CA file
// trusts it, one using the system trust store does not. The test thread uses it.
#pragma once

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <string>

struct TestCertificate {
  // subjectAltName as OpenSSL writes it, e.g. "IP:127.0.0.1" or "DNS:other.example".
  TestCertificate(const std::string& folder, const std::string& subjectAltName)
      : certPath(folder + "/cert.pem"), keyPath(folder + "/key.pem") {
    EVP_PKEY* key = EVP_EC_gen("prime256v1");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    // A certificate without a subject is not found in a trust store by its name.
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("face-service"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX ctx{};
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    for (const auto& [name, value] :
         {std::pair<const char*, std::string>{"subjectAltName", subjectAltName},
          {"basicConstraints", "critical,CA:TRUE"}}) {
      X509_EXTENSION* made = X509V3_EXT_conf(nullptr, &ctx, name, value.c_str());
      X509_add_ext(cert, made, -1);
      X509_EXTENSION_free(made);
    }
    X509_sign(cert, key, EVP_sha256());
    BIO* out = BIO_new_file(certPath.c_str(), "w");
    PEM_write_bio_X509(out, cert);
    BIO_free(out);
    out = BIO_new_file(keyPath.c_str(), "w");
    PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    BIO_free(out);
    X509_free(cert);
    EVP_PKEY_free(key);
  }
  std::string certPath;
  std::string keyPath;
};
