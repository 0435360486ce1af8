// Test helper: a self-signed certificate made at test time, for a TLS face service on loopback.
// Writes cert.pem and key.pem into a folder; the certificate is its own CA, so a client that
// takes cert.pem as its CA file trusts it, and one that uses the system trust store does not.
// The test thread uses it.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <string>

struct TestCertificate {
  std::string certPath;
  std::string keyPath;

  // subjectAltName as OpenSSL writes it, e.g. "IP:127.0.0.1" or "DNS:other.example".
  TestCertificate(const std::string& folder, const std::string& subjectAltName)
      : certPath(folder + "/cert.pem"), keyPath(folder + "/key.pem") {
    EVP_PKEY* key = EVP_EC_gen("prime256v1");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("vestrel test"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    for (const auto& [nid, value] : {std::pair<int, std::string>{NID_subject_alt_name, subjectAltName},
                                     {NID_basic_constraints, "critical,CA:TRUE"}}) {
      X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
      X509_add_ext(cert, ext, -1);
      X509_EXTENSION_free(ext);
    }
    X509_sign(cert, key, EVP_sha256());
    if (FILE* f = std::fopen(certPath.c_str(), "w")) {
      PEM_write_X509(f, cert);
      std::fclose(f);
    }
    if (FILE* f = std::fopen(keyPath.c_str(), "w")) {
      PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
      std::fclose(f);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
  }
};
