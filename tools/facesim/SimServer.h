// The simulated service's network side: one listening socket for HTTP and WebSocket alike
// (plain, or all of it over TLS), the open connections, the service's workers, the faults that
// the script has armed, and the pushed results. Everything below runs on the io thread; the
// script runner's calls (ArmFault, ArmPush, SetPushDelay, StallStreams, GoDown, GoUp) post
// their work there, and the io thread prints the acknowledgement once it has taken effect.
// The io-thread state needs no lock.
#pragma once

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/EventPrinter.h"
#include "tools/facesim/FaceSimOptions.h"
#include "tools/facesim/ScriptCommand.h"
#include "tools/facesim/ServiceMode.h"
#include "tools/facesim/ServicePool.h"

namespace facesim {

using simtools::EventPrinter;

class HttpSession;
class StreamSession;

class SimServer {
 public:
  // tls: the server's certificate and key, or null for plain HTTP and WebSocket.
  SimServer(boost::asio::io_context& io, const FaceSimOptions& options, ServiceMode& mode,
            EventPrinter& printer, boost::asio::ssl::context* tls = nullptr);
  ~SimServer() { pool_->Close(); }
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Before the io thread runs: opens the listening socket and prints "listening IP:PORT".
  bool Listen(std::string* error);

  // Any thread. An HTTP endpoint or WebSocket stream path of the mode (constant data).
  bool IsEndpoint(const std::string& path) const;
  std::string EndpointList() const;

  // Script runner, any thread.
  void ArmFault(const std::string& endpoint, AnswerFault fault);
  void ArmPush(PushFault fault);
  void SetPushDelay(double seconds);
  // Stalls every open stream connection (see StreamSession) and prints
  // "ws stall streams=N"; connections opened later are served as usual.
  void StallStreams();
  // Drops every connection and closes the listening socket; GoUp listens again on the port.
  void GoDown();
  void GoUp();

  // Sessions, io thread.
  EventPrinter& Printer() { return printer_; }
  bool IsPostEndpoint(const std::string& path) const;
  bool IsStream(const std::string& path) const;
  std::optional<AnswerFault> TakeFault(const std::string& path);
  ServiceAnswer Handle(const ServiceRequest& request) { return mode_.Handle(request); }
  ServicePool& Pool() { return *pool_; }
  // The service's latency for a request to the path: only recognition takes its time.
  double LatencySeconds(const std::string& path) const {
    return path == pictureEndpoint_ ? options_.latencySeconds : 0;
  }
  // Pushes the result after the push delay.
  void SchedulePush(PushedResult push);
  void StreamStarted(const std::shared_ptr<StreamSession>& session);

 private:
  void Accept();
  void Reopen();
  void Push(const PushedResult& push);
  void Deliver(const std::string& stream, const std::string& verifyId,
               const std::shared_ptr<const std::string>& message);

  // Constant after construction.
  boost::asio::io_context& io_;
  const FaceSimOptions options_;
  ServiceMode& mode_;
  EventPrinter& printer_;
  boost::asio::ssl::context* const tls_;
  const std::shared_ptr<ServicePool> pool_;
  const std::vector<std::string> endpoints_;
  const std::vector<std::string> streams_;
  const std::string pictureEndpoint_;
  uint16_t port_ = 0;  // set by Listen

  // Io thread only.
  boost::asio::ip::tcp::acceptor acceptor_;
  bool down_ = false;
  std::map<std::string, std::deque<AnswerFault>> faults_;  // by endpoint, oldest first
  std::deque<PushFault> pushFaults_;
  double pushDelaySeconds_ = 0.5;
  std::vector<std::weak_ptr<HttpSession>> httpSessions_;
  std::vector<std::weak_ptr<StreamSession>> streamSessions_;
  std::vector<std::shared_ptr<StreamSession>> stalledStreams_;  // kept open until down or exit
};

}  // namespace facesim
