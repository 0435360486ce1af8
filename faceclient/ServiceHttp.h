// The HTTP side of one face-client worker: requests to the face service, plain or over TLS,
// each with bounded answer headers (kMaxHeaderBytes) and body (kMaxAnswerBytes, no
// compression accepted), a total deadline from connect to the last byte, and their
// cancellation when the client stops. A client with several workers gives each worker a
// ServiceHttp of its own; its one libcurl handle is kept between requests, so that the
// connection and the TLS session are reused where the service allows it.
// Threads: Post and Probe on the one thread that owns the object (a face-client worker, or the
// site check), which drives the transfer itself and waits in libcurl's poll; Cancel from any
// thread: it raises cancelled_ and wakes that poll. No lock: cancelled_ is the only member
// that another thread touches, and libcurl's wake-up is safe from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "config/FaceServiceConfig.h"

// What came back from one request to the face service.
struct ServiceAnswer {
  bool received = false;  // a complete response came back
  int status = 0;
  std::string body;
  // Given up by this side: too large, compressed, past its deadline or cancelled.
  bool abandoned = false;

  // Answered: a response with status 200.
  bool Ok() const { return received && status == 200; }
  // For the log lines of an unanswered request: "no response", or the body of the response
  // with its control characters escaped.
  std::string Describe() const;
};

class ServiceHttp {
 public:
  // The largest answer body taken, as received; compressed answers are refused.
  static constexpr std::size_t kMaxAnswerBytes = 1024 * 1024;
  // All header lines of one answer together, status line included.
  static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
  static constexpr int kRequestDeadlineMs = 10000;
  static constexpr int kConnectionTimeoutMs = 3000;
  // An exchange that stalls (not one byte either way in this long) is given up before its
  // deadline, as an unanswered request.
  static constexpr int kReadTimeoutSeconds = 5;
  static constexpr const char* kSystemTrustStore = "/etc/ssl/certs/ca-certificates.crt";

  // Sets libcurl up for the process, once; later calls do nothing. main() calls it before it
  // starts any thread; every constructor calls it too, so that tests and tools that never
  // reach main()'s call are covered (this libcurl's set-up is itself thread-safe).
  static void InitLibrary();

  // Binds to the record's address (HTTPS when its Tls is set, checked against its CaFile or
  // the system trust store). The record must outlive the object.
  explicit ServiceHttp(const FaceServiceConfig& config, int deadlineMs = kRequestDeadlineMs);
  ~ServiceHttp();
  ServiceHttp(const ServiceHttp&) = delete;
  ServiceHttp& operator=(const ServiceHttp&) = delete;

  // Posts the body; contentType null sends no content type. Every failure this side decides
  // (limit, deadline, refused certificate) is logged as one line.
  ServiceAnswer Post(const std::string& path, const std::string& body, const char* contentType);
  // Asks for "/" and reports whether any HTTP answer came back (over TLS: the certificate was
  // accepted); *reason says why not. Logs nothing.
  bool Probe(std::string* reason);
  // Ends the request in flight and refuses every later one. Never waits.
  void Cancel();

  // "http://HOST:PORT" or "https://HOST:PORT".
  std::string Origin() const;

 private:
  enum class Outcome { kAnswered, kNoAnswer, kAbandoned, kCancelled, kTlsRefused };
  struct EasyCleanup {
    void operator()(void* easy) const;
  };
  struct MultiCleanup {
    void operator()(void* multi) const;
  };

  // Sends the request (a POST when body is not null) and fills *answer; *why tells a failure
  // in words.
  Outcome Exchange(const std::string& path, const std::string* body, const char* contentType,
                   ServiceAnswer* answer, std::string* why);
  std::string TlsFailure(int result) const;
  std::string TrustStore() const;

  // Constant after construction.
  const FaceServiceConfig& config_;
  const int deadline_ms_;
  std::unique_ptr<void, EasyCleanup> easy_;    // used by the owning thread only
  std::unique_ptr<void, MultiCleanup> multi_;  // woken from any thread by Cancel

  std::atomic<bool> cancelled_{false};
};
