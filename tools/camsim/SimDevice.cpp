#include "tools/camsim/SimDevice.h"

#include <chrono>

#include "tools/camsim/CamSession.h"
#include "tools/common/ListenSocket.h"

namespace camsim {

namespace asio = boost::asio;

SimDevice::SimDevice(asio::io_context& io, const CamSimOptions& options, EventPrinter& printer)
    : io_(io), options_(options), printer_(printer), acceptor_(io), password_(options.password) {}

bool SimDevice::Listen(std::string* error) {
  port_ = options_.listenPort;
  if (!simtools::StartListening(acceptor_, options_.listenIp, &port_, printer_, error)) {
    return false;
  }
  Accept();
  return true;
}

void SimDevice::Accept() {
  simtools::AcceptConnections(acceptor_, printer_, [this](asio::ip::tcp::socket socket) {
    auto session = std::make_shared<CamSession>(io_, std::move(socket), *this);
    sessions_.insert(session);
    session->Start();
  });
}

void SimDevice::SendFace(sdkwire::FaceAlarm alarm) {
  auto body = std::make_shared<std::vector<uint8_t>>(sdkwire::Encode(alarm));
  const uint32_t faceId = alarm.faceId;
  asio::post(io_, [this, body, faceId]() {
    int delivered = 0;
    for (const auto& session : sessions_) delivered += session->SendAlarm(0x1112, *body) ? 1 : 0;
    // Load tools count only the faces that went out to a client.
    if (delivered == 0) printer_.Event("face id=" + std::to_string(faceId) + " reached no alarm channel");
  });
}

void SimDevice::SendAlarm(uint32_t command) {
  asio::post(io_, [this, command]() {
    for (const auto& session : sessions_) session->SendAlarm(command, {});
  });
}

void SimDevice::GoOffline() {
  asio::post(io_, [this]() {
    if (offline_) return;
    offline_ = true;
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    printer_.Event("offline");
    for (const auto& session : sessions_) session->Drop("device offline");
  });
}

void SimDevice::GoOnline() {
  asio::post(io_, [this]() {
    if (!offline_) return;
    std::string error;
    if (!simtools::OpenAcceptor(acceptor_, options_.listenIp, port_, &error)) {
      printer_.Error(error + "; staying offline");
      return;
    }
    offline_ = false;
    printer_.Event("online");
    Accept();
  });
}

void SimDevice::SetPassword(const std::string& password) {
  std::lock_guard<std::mutex> guard(mutex_);
  password_ = password;
}

bool SimDevice::WaitForChannel(double seconds, const std::function<bool()>& stopRequested) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
  std::unique_lock<std::mutex> lock(mutex_);
  while (openChannels_ == 0) {
    if (stopRequested()) return false;
    if (seconds >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
    channelOpened_.wait_for(lock, std::chrono::milliseconds(50));
  }
  return true;
}

bool SimDevice::CheckCredentials(const std::string& user, const std::string& password) {
  std::lock_guard<std::mutex> guard(mutex_);
  return user == options_.user && password == password_;
}

bool SimDevice::TakeLink() {
  if (links_ >= options_.maxLinks) return false;
  ++links_;
  return true;
}

void SimDevice::ReleaseLink() { --links_; }

uint32_t SimDevice::OpenChannel() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    ++openChannels_;
  }
  channelOpened_.notify_all();
  printer_.Event("channel open");
  return nextChannel_++;
}

void SimDevice::CloseChannel() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    --openChannels_;
  }
  printer_.Event("channel closed");
}

void SimDevice::Forget(const std::shared_ptr<CamSession>& session) { sessions_.erase(session); }

}  // namespace camsim
