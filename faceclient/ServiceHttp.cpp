#include "faceclient/ServiceHttp.h"

#include <httplib.h>
#include <openssl/x509.h>

#include "metrics/Metrics.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"
#include "support/StringFormat.h"

namespace {

// How soon the watchdog stops a request again when the first stop came before the library
// had registered it (its connect holds the library's socket lock).
constexpr int kStopRetryMs = 20;

}  // namespace

std::string ServiceAnswer::Describe() const {
  return received ? LogSafe(body) : std::string("no response");
}

ServiceHttp::ServiceHttp(const FaceServiceConfig& config, int deadlineMs)
    : config_(config), deadline_ms_(deadlineMs) {
  if (config.Tls) {
    auto tls = std::make_unique<httplib::SSLClient>(config.Ip, config.Port);
    tls->set_ca_cert_path(config.CaFile.empty() ? kSystemTrustStore : config.CaFile);
    tls->enable_server_certificate_verification(true);
    tlsClient_ = tls.get();
    client_ = std::move(tls);
  } else {
    client_ = std::make_unique<httplib::ClientImpl>(config.Ip, config.Port);
  }
  client_->set_connection_timeout(kConnectionTimeoutSeconds, 0);
  client_->set_decompress(false);
  wake_ = std::make_unique<platform::Event>(false, false);
  watchdog_ =
      std::make_unique<platform::Thread>("face-deadline", &ServiceHttp::WatchdogEntry, this);
  watchdog_->Resume();
}

ServiceHttp::~ServiceHttp() {
  closing_ = true;
  wake_->Set();
  watchdog_.reset();  // joins
}

std::string ServiceHttp::Origin() const {
  return StringFormat("%s://%s:%d", config_.Tls ? "https" : "http", config_.Ip.c_str(),
                      config_.Port);
}

void ServiceHttp::Cancel() {
  cancelled_ = true;
  wake_->Set();
}

unsigned ServiceHttp::WatchdogEntry(void* http) {
  static_cast<ServiceHttp*>(http)->Watch();
  return 0;
}

void ServiceHttp::Watch() {
  while (!closing_) {
    int waitMs = platform::kInfinite;
    {
      platform::ScopedLock guard(watchLock);
      if (inFlight_) {
        const auto now = std::chrono::steady_clock::now();
        if (cancelled_ || now >= deadline_) {
          if (stoppedBy_ == StoppedBy::kNobody) {
            stoppedBy_ = cancelled_ ? StoppedBy::kCancel : StoppedBy::kDeadline;
          }
          client_->stop();
          waitMs = kStopRetryMs;
        } else {
          waitMs =
              static_cast<int>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - now).count()) +
              1;
        }
      }
    }
    wake_->Wait(waitMs);
  }
}

ServiceHttp::Outcome ServiceHttp::Exchange(httplib::Request& request, ServiceAnswer* answer,
                                           std::string* why) {
  if (cancelled_) {
    *why = "the face client stops";
    return Outcome::kCancelled;
  }
  request.headers.emplace("Accept-Encoding", "identity");
  bool tooLarge = false;
  std::string encoding;
  request.response_handler = [&](const httplib::Response& response) {
    encoding = response.get_header_value("Content-Encoding");
    if (!encoding.empty() && encoding != "identity") return false;
    encoding.clear();
    if (response.has_header("Content-Length") &&
        response.get_header_value<uint64_t>("Content-Length") > kMaxAnswerBytes) {
      tooLarge = true;
      return false;
    }
    return true;
  };
  request.content_receiver = [&](const char* data, size_t length, uint64_t, uint64_t) {
    if (answer->body.size() + length > kMaxAnswerBytes) {
      tooLarge = true;
      return false;
    }
    answer->body.append(data, length);
    return true;
  };

  httplib::Response response;
  httplib::Error error = httplib::Error::Success;
  {
    platform::ScopedLock guard(watchLock);
    inFlight_ = true;
    stoppedBy_ = StoppedBy::kNobody;
    deadline_ = std::chrono::steady_clock::now() + deadline_ms_;
  }
  wake_->Set();
  const bool sent = client_->send(request, response, error);
  StoppedBy stoppedBy = StoppedBy::kNobody;
  {
    platform::ScopedLock guard(watchLock);
    inFlight_ = false;
    stoppedBy = stoppedBy_;
  }
  metrics::FaceServiceAnswer(sent ? response.status : 0, static_cast<int>(error));

  if (tooLarge) {
    *why = StringFormat("the answer is larger than the limit of %zu bytes", kMaxAnswerBytes);
  } else if (!encoding.empty()) {
    *why =
        "the answer is compressed (" + LogSafe(encoding) + ") though no compression was asked for";
  } else if (stoppedBy == StoppedBy::kCancel) {
    *why = "the face client stops";
    return Outcome::kCancelled;
  } else if (stoppedBy == StoppedBy::kDeadline) {
    *why = StringFormat("no complete answer within the limit of %d ms",
                        static_cast<int>(deadline_ms_.count()));
  } else if (!sent) {
    if (error == httplib::Error::SSLConnection || error == httplib::Error::SSLLoadingCerts ||
        error == httplib::Error::SSLServerVerification) {
      *why = TlsFailure(static_cast<int>(error));
      return Outcome::kTlsRefused;
    }
    *why = httplib::to_string(error);
    return Outcome::kNoAnswer;
  } else {
    answer->received = true;
    answer->status = response.status;
    return Outcome::kAnswered;
  }
  answer->body.clear();
  answer->abandoned = true;
  return Outcome::kAbandoned;
}

std::string ServiceHttp::TlsFailure(int error) const {
  switch (static_cast<httplib::Error>(error)) {
    case httplib::Error::SSLLoadingCerts:
      return "the trust store " +
             (config_.CaFile.empty() ? std::string(kSystemTrustStore) : config_.CaFile) +
             " cannot be loaded";
    case httplib::Error::SSLServerVerification: {
      const long result = tlsClient_ != nullptr ? tlsClient_->get_openssl_verify_result() : 0;
      if (result != X509_V_OK) {
        return std::string("the certificate does not verify: ") +
               X509_verify_cert_error_string(result);
      }
      return "the certificate is not made out to this host";
    }
    default:
      return "the TLS handshake failed";
  }
}

ServiceAnswer ServiceHttp::Post(const std::string& path, const std::string& body,
                                const char* contentType) {
  httplib::Request request;
  request.method = "POST";
  request.path = path;
  if (contentType != nullptr) request.headers.emplace("Content-Type", contentType);
  request.body = body;
  ServiceAnswer answer;
  std::string why;
  const Outcome outcome = Exchange(request, &answer, &why);
  CLogHelper* log = CLogHelper::GetInstance();
  const std::string endpoint = LogSafe(Origin() + path);
  switch (outcome) {
    case Outcome::kAbandoned:
      log->LogErrorF("Face service request %s abandoned: %s", endpoint.c_str(), why.c_str());
      break;
    case Outcome::kTlsRefused:
      log->LogErrorF("Face service %s refused, nothing sent: %s", Origin().c_str(), why.c_str());
      break;
    case Outcome::kCancelled:
      answer.abandoned = true;
      log->LogInfoF("Face service request %s cancelled: %s", endpoint.c_str(), why.c_str());
      break;
    default:
      break;
  }
  return answer;
}

bool ServiceHttp::Probe(std::string* reason) {
  httplib::Request request;
  request.method = "GET";
  request.path = "/";
  ServiceAnswer answer;
  const Outcome outcome = Exchange(request, &answer, reason);
  return outcome == Outcome::kAnswered;
}
