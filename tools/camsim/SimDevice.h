// The simulated device's network side: accepts connections on the listen address, keeps
// the sessions, and fans alarms out to every open alarm channel. The io thread runs the
// network; the script runner calls SendFace, SendAlarm, GoOffline, GoOnline, SetPassword
// and WaitForChannel, which post to the io thread or wait. mutex_ guards password_ and
// openChannels_; the rest is touched on the io thread only.
#pragma once

#include <boost/asio.hpp>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "sdk/WireMessages.h"
#include "tools/camsim/CamSimOptions.h"
#include "tools/common/EventPrinter.h"

namespace camsim {

using simtools::EventPrinter;

class CamSession;

class SimDevice {
 public:
  SimDevice(boost::asio::io_context& io, const CamSimOptions& options, EventPrinter& printer);
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  // Before the io thread runs: opens the listen socket and prints "listening IP:PORT".
  bool Listen(std::string* error);

  // Script runner.
  void SendFace(sdkwire::FaceAlarm alarm);
  void SendAlarm(uint32_t command);
  void GoOffline();
  void GoOnline();
  void SetPassword(const std::string& password);
  // True once some client holds an open alarm channel; false on time-out (negative: none)
  // or when stopRequested says so.
  bool WaitForChannel(double seconds, const std::function<bool()>& stopRequested);

  const CamSimOptions& Options() const { return options_; }
  EventPrinter& Printer() { return printer_; }
  uint16_t Port() const { return port_; }

  // Sessions, on the io thread.
  bool CheckCredentials(const std::string& user, const std::string& password);
  bool TakeLink();
  void ReleaseLink();
  uint32_t OpenChannel();
  void CloseChannel();
  void Forget(const std::shared_ptr<CamSession>& session);

 private:
  void Accept();

  boost::asio::io_context& io_;
  const CamSimOptions options_;
  EventPrinter& printer_;
  uint16_t port_ = 0;  // set by Listen, constant afterwards

  // io thread only.
  boost::asio::ip::tcp::acceptor acceptor_;
  std::set<std::shared_ptr<CamSession>> sessions_;
  int links_ = 0;
  uint32_t nextChannel_ = 1;
  bool offline_ = false;

  std::mutex mutex_;
  std::condition_variable channelOpened_;
  std::string password_;
  int openChannels_ = 0;
};

}  // namespace camsim
