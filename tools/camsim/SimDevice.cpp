#include "tools/camsim/SimDevice.h"

#include <chrono>

#include "tools/camsim/CamSession.h"
#include "tools/common/ListenAddress.h"

namespace camsim {

namespace asio = boost::asio;

SimDevice::SimDevice(asio::io_context& io, const CamSimOptions& options, EventPrinter& printer)
    : io_(io), options_(options), printer_(printer), acceptor_(io), password_(options.password) {}

bool SimDevice::Listen(std::string* error) {
  port_ = options_.listenPort;
  if (!simtools::OpenAcceptor(acceptor_, options_.listenIp, port_, error)) return false;
  port_ = acceptor_.local_endpoint().port();
  printer_.Event("listening " + options_.listenIp + ":" + std::to_string(port_));
  Accept();
  return true;
}

void SimDevice::Accept() {
  acceptor_.async_accept([this](const boost::system::error_code& ec, asio::ip::tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
    if (!ec) {
      auto session = std::make_shared<CamSession>(io_, std::move(socket), *this);
      sessions_.insert(session);
      session->Start();
      Accept();
      return;
    }
    // Out of descriptors and the like: try again shortly instead of spinning.
    printer_.Error("accept failed: " + ec.message());
    auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(200));
    timer->async_wait([this, timer](const boost::system::error_code& waitError) {
      if (!waitError && acceptor_.is_open()) Accept();
    });
  });
}

void SimDevice::SendFace(sdkwire::FaceAlarm alarm) {
  auto body = std::make_shared<std::vector<uint8_t>>(sdkwire::Encode(alarm));
  asio::post(io_, [this, body]() {
    for (const auto& session : sessions_) session->SendAlarm(0x1112, *body);
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
