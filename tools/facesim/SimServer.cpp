#include "tools/facesim/SimServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "tools/common/ListenSocket.h"
#include "tools/facesim/GzipBomb.h"
#include "tools/facesim/HttpSession.h"
#include "tools/facesim/StreamSession.h"

namespace facesim {

namespace asio = boost::asio;

namespace {

constexpr const char* kGarbagePush = "<<pushed garbage, not JSON>> {\"verify_face_id\":";

template <typename Session>
void Forget(std::vector<std::weak_ptr<Session>>& sessions) {
  sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                [](const std::weak_ptr<Session>& s) { return s.expired(); }),
                 sessions.end());
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

std::chrono::milliseconds Milliseconds(double seconds) {
  return std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
}

}  // namespace

SimServer::SimServer(asio::io_context& io, const FaceSimOptions& options, ServiceMode& mode,
                     EventPrinter& printer, asio::ssl::context* tls)
    : io_(io),
      options_(options),
      mode_(mode),
      printer_(printer),
      tls_(tls),
      pool_(std::make_shared<ServicePool>(io, options.concurrency)),
      endpoints_(mode.Endpoints()),
      streams_(mode.Streams()),
      pictureEndpoint_(mode.PictureEndpoint()),
      acceptor_(io) {}

bool SimServer::Listen(std::string* error) {
  port_ = options_.listenPort;
  if (!simtools::StartListening(acceptor_, options_.listenIp, &port_, printer_, error)) {
    return false;
  }
  Accept();
  return true;
}

void SimServer::Accept() {
  simtools::AcceptConnections(acceptor_, printer_, [this](asio::ip::tcp::socket socket) {
    Forget(httpSessions_);
    httpSessions_.push_back(StartHttpSession(std::move(socket), *this, tls_));
  });
}

bool SimServer::IsPostEndpoint(const std::string& path) const { return Contains(endpoints_, path); }

bool SimServer::IsStream(const std::string& path) const { return Contains(streams_, path); }

bool SimServer::IsEndpoint(const std::string& path) const {
  return IsPostEndpoint(path) || IsStream(path);
}

std::string SimServer::EndpointList() const {
  std::string list;
  for (const auto* group : {&endpoints_, &streams_}) {
    for (const std::string& path : *group) list += (list.empty() ? "" : ", ") + path;
  }
  return list;
}

void SimServer::ArmFault(const std::string& endpoint, AnswerFault fault) {
  if (fault.kind == AnswerFault::Kind::GzipBomb) GzipBomb();  // built here, off the io thread
  asio::post(io_, [this, endpoint, fault]() {
    faults_[endpoint].push_back(fault);
    printer_.Event("armed next " + endpoint + " " + fault.Name());
  });
}

void SimServer::ArmPush(PushFault fault) {
  asio::post(io_, [this, fault]() {
    pushFaults_.push_back(fault);
    printer_.Event(std::string("armed push ") + PushFaultName(fault));
  });
}

void SimServer::SetPushDelay(double seconds) {
  asio::post(io_, [this, seconds]() {
    pushDelaySeconds_ = seconds;
    char text[64];
    std::snprintf(text, sizeof text, "set push-delay %g", seconds);
    printer_.Event(text);
  });
}

void SimServer::StallStreams() {
  asio::post(io_, [this]() {
    int stalled = 0;
    for (const auto& weak : streamSessions_) {
      auto session = weak.lock();
      if (session && session->Stall()) {
        stalledStreams_.push_back(session);
        ++stalled;
      }
    }
    printer_.Event("ws stall streams=" + std::to_string(stalled));
  });
}

void SimServer::GoDown() {
  asio::post(io_, [this]() {
    if (down_) return;
    down_ = true;
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    printer_.Event("down");
    for (const auto& weak : httpSessions_) {
      if (auto session = weak.lock()) session->Drop();
    }
    for (const auto& weak : streamSessions_) {
      if (auto session = weak.lock()) session->Drop();
    }
    httpSessions_.clear();
    streamSessions_.clear();
    stalledStreams_.clear();
  });
}

void SimServer::GoUp() {
  asio::post(io_, [this]() {
    if (down_) Reopen();
  });
}

void SimServer::Reopen() {
  std::string error;
  if (!simtools::OpenAcceptor(acceptor_, options_.listenIp, port_, &error)) {
    // Someone else may hold the port for a moment: keep trying rather than stay down.
    printer_.Error(error + "; trying again in 1 s");
    auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::seconds(1));
    timer->async_wait([this, timer](const boost::system::error_code& ec) {
      if (!ec && down_) Reopen();
    });
    return;
  }
  down_ = false;
  printer_.Event("up");
  Accept();
}

std::optional<AnswerFault> SimServer::TakeFault(const std::string& path) {
  auto it = faults_.find(path);
  if (it == faults_.end() || it->second.empty()) return std::nullopt;
  AnswerFault fault = std::move(it->second.front());
  it->second.pop_front();
  return fault;
}

void SimServer::StreamStarted(const std::shared_ptr<StreamSession>& session) {
  Forget(streamSessions_);
  streamSessions_.push_back(session);
}

void SimServer::SchedulePush(PushedResult push) {
  auto timer = std::make_shared<asio::steady_timer>(io_, Milliseconds(pushDelaySeconds_));
  timer->async_wait([this, timer, push = std::move(push)](const boost::system::error_code& ec) {
    if (!ec) Push(push);
  });
}

void SimServer::Push(const PushedResult& push) {
  std::optional<PushFault> fault;
  if (!pushFaults_.empty()) {
    fault = pushFaults_.front();
    pushFaults_.pop_front();
  }
  const std::string line = "push " + push.stream + " verify_face_id=";
  if (!fault || *fault == PushFault::Twice) {
    const auto message = std::make_shared<const std::string>(push.message(push.verifyId));
    for (int i = 0; i < (fault ? 2 : 1); ++i) {
      printer_.Event(line + push.verifyId);
      Deliver(push.stream, push.verifyId, message);
    }
    return;
  }
  switch (*fault) {
    case PushFault::None:
      printer_.Event("push none verify_face_id=" + push.verifyId);
      break;
    case PushFault::Garbage:
      printer_.Event("push " + push.stream + " garbage verify_face_id=" + push.verifyId);
      Deliver(push.stream, push.verifyId, std::make_shared<const std::string>(kGarbagePush));
      break;
    case PushFault::WrongId: {
      const std::string other = NewUniqueId();
      printer_.Event(line + other + " instead-of=" + push.verifyId);
      Deliver(push.stream, push.verifyId, std::make_shared<const std::string>(push.message(other)));
      break;
    }
    case PushFault::Twice:
      break;
  }
}

void SimServer::Deliver(const std::string& stream, const std::string& verifyId,
                        const std::shared_ptr<const std::string>& message) {
  int delivered = 0;
  for (const auto& weak : streamSessions_) {
    auto session = weak.lock();
    if (session && session->Path() == stream && session->Send(message)) ++delivered;
  }
  if (delivered == 0) {
    printer_.Error("push " + stream + ": no open connection, the result for " + verifyId +
                   " is lost");
  }
}

}  // namespace facesim
