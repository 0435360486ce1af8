// The HTTP side of one face-client worker: requests to the face service, plain or over TLS,
// each with a bounded answer (kMaxAnswerBytes, no compression accepted) and a total deadline
// from connect to the last byte, and their cancellation when the client stops. A client with
// several workers gives each worker a ServiceHttp of its own.
// Threads: Post and Probe on the one thread that owns the object (a face-client worker, or the
// site check); Cancel from any thread. A watchdog thread ("face-deadline") ends a request that
// outlives its deadline or is cancelled by shutting its socket (the library's stop). watchLock
// guards inFlight_, deadline_ and stoppedBy_, and is held while the watchdog stops a request so
// that it never stops the next one; no log call and no callback runs under it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "config/FaceServiceConfig.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Thread.h"

namespace httplib {
class ClientImpl;
class SSLClient;
struct Request;
}  // namespace httplib

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
  static constexpr int kRequestDeadlineMs = 10000;
  static constexpr int kConnectionTimeoutSeconds = 3;
  static constexpr const char* kSystemTrustStore = "/etc/ssl/certs/ca-certificates.crt";

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
  enum class StoppedBy { kNobody, kDeadline, kCancel };

  // Sends the request and fills *answer; *why tells a failure in words.
  Outcome Exchange(httplib::Request& request, ServiceAnswer* answer, std::string* why);
  std::string TlsFailure(int error) const;
  static unsigned WatchdogEntry(void* http);
  void Watch();

  // Constant after construction.
  const FaceServiceConfig& config_;
  const std::chrono::milliseconds deadline_ms_;
  std::unique_ptr<httplib::ClientImpl> client_;
  httplib::SSLClient* tlsClient_ = nullptr;  // client_ itself when it speaks TLS
  std::unique_ptr<platform::Event> wake_;    // auto-reset: the watchdog looks again
  std::unique_ptr<platform::Thread> watchdog_;

  std::atomic<bool> cancelled_{false};
  std::atomic<bool> closing_{false};

  // Guarded by watchLock.
  platform::CriticalSection watchLock;
  bool inFlight_ = false;
  std::chrono::steady_clock::time_point deadline_;
  StoppedBy stoppedBy_ = StoppedBy::kNobody;
};
