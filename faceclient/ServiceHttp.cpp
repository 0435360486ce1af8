#include "faceclient/ServiceHttp.h"

#include <curl/curl.h>
#include <openssl/x509.h>

#include <chrono>

#include "metrics/Metrics.h"
#include "support/LogHelper.h"
#include "support/PeerText.h"
#include "support/StringFormat.h"

namespace {

// The longest wait in libcurl's poll between two looks at the cancel flag when nothing wakes
// it; libcurl shortens it to its own time-outs, and Cancel wakes it at once.
constexpr int kPollSliceMs = 1000;
// libcurl ends a transfer at its deadline to the millisecond; measured from outside, it may
// look a little shorter or longer.
constexpr int kDeadlineSlackMs = 50;

// A list of request header lines, freed at the end of the scope.
class HeaderList {
 public:
  HeaderList() = default;
  ~HeaderList() { curl_slist_free_all(list_); }
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;

  void Add(const std::string& line) {
    if (curl_slist* longer = curl_slist_append(list_, line.c_str())) list_ = longer;
  }
  curl_slist* Get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

// What one transfer has received so far, and which of our limits stopped it. Filled by
// libcurl's callbacks on the owning thread, inside Perform.
struct Reception {
  CURL* easy = nullptr;
  std::string* body = nullptr;
  std::size_t headerBytes = 0;
  bool headersDone = false;
  bool headersTooLarge = false;
  bool bodyTooLarge = false;
  std::string encoding;  // a refused Content-Encoding
  int attempts = 0;       // sendings of the request
  bool cancelled = false;
  bool stalled = false;  // no byte either way within the read time-out
  char error[CURL_ERROR_SIZE] = {};
};

// A header line, status line and the empty line that ends the headers included.
size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) noexcept {
  auto* reception = static_cast<Reception*>(user);
  const size_t length = size * count;
  reception->headerBytes += length;
  if (reception->headerBytes > ServiceHttp::kMaxHeaderBytes) {
    reception->headersTooLarge = true;
    return 0;
  }
  if (length > 2 || (data[0] != '\r' && data[0] != '\n')) return length;
  reception->headersDone = true;
  curl_header* encoding = nullptr;
  if (curl_easy_header(reception->easy, "Content-Encoding", 0, CURLH_HEADER, -1, &encoding) ==
          CURLHE_OK &&
      encoding->value[0] != '\0' && std::string(encoding->value) != "identity") {
    try {
      reception->encoding = encoding->value;
    } catch (...) {
    }
    return 0;
  }
  return length;
}

size_t OnBodyBytes(char* data, size_t size, size_t count, void* user) noexcept {
  auto* reception = static_cast<Reception*>(user);
  const size_t length = size * count;
  if (reception->body->size() + length > ServiceHttp::kMaxAnswerBytes) {
    reception->bodyTooLarge = true;
    return 0;
  }
  try {
    reception->body->append(data, length);
  } catch (...) {
    return 0;
  }
  return length;
}

// libcurl sends a request again on a fresh connection when a kept one closed before any
// answer came; the service may have taken the first one all the same, so it goes once only.
int OnSending(void* user, char*, char*, int, int) noexcept {
  return ++static_cast<Reception*>(user)->attempts == 1 ? CURL_PREREQFUNC_OK
                                                        : CURL_PREREQFUNC_ABORT;
}

// Every byte of the exchange so far, both ways; it grows while the peer keeps up.
curl_off_t BytesMoved(CURL* easy, const Reception& reception) {
  curl_off_t sent = 0;
  long requestHead = 0;
  curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &sent);
  curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &requestHead);
  return sent + requestHead + static_cast<curl_off_t>(reception.headerBytes) +
         static_cast<curl_off_t>(reception.body->size());
}

// Drives one transfer on the calling thread until it ends, stalls past the read time-out or
// is cancelled (*reception says which of the last two). Cancel wakes the poll at once.
CURLcode Perform(CURLM* multi, CURL* easy, const std::atomic<bool>& cancelled,
                 Reception* reception) {
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
  using Clock = std::chrono::steady_clock;
  const auto readTimeout = std::chrono::seconds(ServiceHttp::kReadTimeoutSeconds);
  curl_off_t moved = 0;
  Clock::time_point lastMove = Clock::now();
  CURLcode result = CURLE_FAILED_INIT;
  for (bool done = false; !done;) {
    if (cancelled) {
      reception->cancelled = true;
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        result = message->data.result;
        done = true;
      }
    }
    if (done || running == 0) break;
    const curl_off_t now = BytesMoved(easy, *reception);
    if (now != moved) {
      moved = now;
      lastMove = Clock::now();
    } else if (Clock::now() - lastMove >= readTimeout) {
      reception->stalled = true;
      result = CURLE_OPERATION_TIMEDOUT;
      break;
    }
    if (curl_multi_poll(multi, nullptr, 0, kPollSliceMs, nullptr) != CURLM_OK) break;
  }
  // Ends the transfer if it still runs; a connection left half-way is closed, not kept.
  curl_multi_remove_handle(multi, easy);
  return result;
}

bool IsTlsRefusal(CURLcode result) {
  return result == CURLE_SSL_CONNECT_ERROR || result == CURLE_PEER_FAILED_VERIFICATION ||
         result == CURLE_SSL_CACERT_BADFILE;
}

}  // namespace

std::string ServiceAnswer::Describe() const {
  return received ? LogSafe(body) : std::string("no response");
}

void ServiceHttp::InitLibrary() {
  static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)result;  // a failed set-up shows as a failed curl_easy_init
}

void ServiceHttp::EasyCleanup::operator()(void* easy) const { curl_easy_cleanup(easy); }
void ServiceHttp::MultiCleanup::operator()(void* multi) const { curl_multi_cleanup(multi); }

ServiceHttp::ServiceHttp(const FaceServiceConfig& config, int deadlineMs)
    : config_(config), deadline_ms_(deadlineMs) {
  InitLibrary();
  easy_.reset(curl_easy_init());
  multi_.reset(curl_multi_init());
  CURL* easy = easy_.get();
  if (easy == nullptr) return;
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");  // never one from the environment
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kConnectionTimeoutMs));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(deadline_ms_));
  // Only an announced length is checked here; OnBodyBytes bounds the rest.
  curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxAnswerBytes));
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeaderLine);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBodyBytes);
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &OnSending);
  if (config.Tls) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, TrustStore().c_str());
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);  // the one file is the whole trust
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  }
}

ServiceHttp::~ServiceHttp() = default;

std::string ServiceHttp::Origin() const {
  return StringFormat("%s://%s:%d", config_.Tls ? "https" : "http", config_.Ip.c_str(),
                      config_.Port);
}

std::string ServiceHttp::TrustStore() const {
  return config_.CaFile.empty() ? std::string(kSystemTrustStore) : config_.CaFile;
}

void ServiceHttp::Cancel() {
  cancelled_ = true;
  curl_multi_wakeup(multi_.get());
}

ServiceHttp::Outcome ServiceHttp::Exchange(const std::string& path, const std::string* body,
                                           const char* contentType, ServiceAnswer* answer,
                                           std::string* why) {
  if (cancelled_) {
    *why = "the face client stops";
    return Outcome::kCancelled;
  }
  CURL* easy = easy_.get();
  if (easy == nullptr || multi_ == nullptr) {
    *why = "libcurl cannot be set up";
    return Outcome::kNoAnswer;
  }
  Reception reception;
  reception.easy = easy;
  reception.body = &answer->body;
  HeaderList headers;
  headers.Add("Accept-Encoding: identity");
  headers.Add("Expect:");  // the body goes at once, without waiting for a go-ahead
  if (body != nullptr) {
    // libcurl would otherwise send a form's content type.
    headers.Add(contentType != nullptr ? std::string("Content-Type: ") + contentType
                                       : std::string("Content-Type:"));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body->data());
  } else {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(easy, CURLOPT_URL, (Origin() + path).c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.Get());
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &reception);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reception);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, &reception);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, reception.error);

  const auto started = std::chrono::steady_clock::now();
  CURLcode result = Perform(multi_.get(), easy, cancelled_, &reception);
  if (reception.attempts > 1) {  // the kept connection closed without an answer
    result = CURLE_GOT_NOTHING;
    reception.error[0] = '\0';
  }
  const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - started)
                             .count();
  long status = 0;
  if (result == CURLE_OK) curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  // Nothing of this request may outlive it in the kept handle.
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, nullptr);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, nullptr);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, nullptr);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, nullptr);
  metrics::FaceServiceAnswer(static_cast<int>(status), static_cast<int>(result));

  if (reception.headersTooLarge) {
    *why = StringFormat("the answer headers are larger than the limit of %zu bytes",
                        kMaxHeaderBytes);
  } else if (result == CURLE_OUT_OF_MEMORY && !reception.headersDone) {
    // libcurl's own refusal of one endless header line.
    *why = StringFormat("an answer header line is longer than the limit of %d bytes",
                        CURL_MAX_HTTP_HEADER);
  } else if (reception.bodyTooLarge || result == CURLE_FILESIZE_EXCEEDED) {
    *why = StringFormat("the answer is larger than the limit of %zu bytes", kMaxAnswerBytes);
  } else if (!reception.encoding.empty()) {
    *why = "the answer is compressed (" + LogSafe(reception.encoding) +
           ") though no compression was asked for";
  } else if (reception.cancelled) {
    *why = "the face client stops";
    return Outcome::kCancelled;
  } else if (result == CURLE_OPERATION_TIMEDOUT && elapsedMs + kDeadlineSlackMs >= deadline_ms_) {
    *why = StringFormat("no complete answer within the limit of %d ms", deadline_ms_);
  } else if (reception.stalled) {
    *why = StringFormat("no answer byte within %d s", kReadTimeoutSeconds);
    return Outcome::kNoAnswer;
  } else if (IsTlsRefusal(result)) {
    *why = TlsFailure(result);
    return Outcome::kTlsRefused;
  } else if (result != CURLE_OK) {
    *why = LogSafe(reception.error[0] != '\0' ? reception.error : curl_easy_strerror(result));
    return Outcome::kNoAnswer;
  } else {
    answer->received = true;
    answer->status = static_cast<int>(status);
    return Outcome::kAnswered;
  }
  answer->body.clear();
  answer->abandoned = true;
  return Outcome::kAbandoned;
}

std::string ServiceHttp::TlsFailure(int result) const {
  switch (result) {
    case CURLE_SSL_CACERT_BADFILE:
      return "the trust store " + TrustStore() + " cannot be loaded";
    case CURLE_PEER_FAILED_VERIFICATION: {
      // A chain that fails stops the handshake with its own reason; a host name that fails
      // is checked after it and leaves the chain's result unspecified.
      long verify = X509_V_OK;
      curl_easy_getinfo(easy_.get(), CURLINFO_SSL_VERIFYRESULT, &verify);
      if (verify != X509_V_OK && verify != X509_V_ERR_UNSPECIFIED) {
        return std::string("the certificate does not verify: ") +
               X509_verify_cert_error_string(verify);
      }
      return "the certificate is not made out to this host";
    }
    default:
      return "the TLS handshake failed";
  }
}

ServiceAnswer ServiceHttp::Post(const std::string& path, const std::string& body,
                                const char* contentType) {
  ServiceAnswer answer;
  std::string why;
  const Outcome outcome = Exchange(path, &body, contentType, &answer, &why);
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
  ServiceAnswer answer;
  return Exchange("/", nullptr, nullptr, &answer, reason) == Outcome::kAnswered;
}
