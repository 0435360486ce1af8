// One HTTP connection to the simulated service: reads requests one after another (keep-alive
// as the client asks), has the service answer each, applies the fault armed for the endpoint,
// and hands the connection over to a StreamSession on a WebSocket upgrade. Runs on the io
// thread only; owned by its pending operations (shared_from_this).
#pragma once

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <memory>
#include <optional>
#include <string>

#include "tools/facesim/ScriptCommand.h"
#include "tools/facesim/ServiceMode.h"

namespace facesim {

class SimServer;

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(boost::asio::ip::tcp::socket socket, SimServer& server);
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  void Start() { Read(); }
  // Closes the connection at once, abandoning a delayed answer.
  void Drop();

 private:
  using Request = boost::beast::http::request<boost::beast::http::string_body>;
  using Response = boost::beast::http::response<boost::beast::http::string_body>;

  // What the answer goes back to.
  struct Exchange {
    std::string path;
    unsigned version = 11;
    bool keepAlive = false;
  };

  void Read();
  void OnRead(boost::beast::error_code ec);
  // A request the parser refused: answered with status and the connection closed.
  void RefuseMalformed(boost::beast::error_code ec);
  void Serve(Request request);
  void Upgrade(const std::string& path, Request request);
  // Reports a request held back by a slow fault and sets the timer.
  void Hold(const std::string& path, const AnswerFault& slow);
  // Waits out a slow fault, then sends.
  void Reply(const Exchange& exchange, ServiceAnswer answer, std::optional<AnswerFault> fault);
  void Send(const Exchange& exchange, const ServiceAnswer& answer,
            const std::optional<AnswerFault>& fault);
  void Write(std::shared_ptr<Response> response, bool closeAfter);
  void Close();

  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  boost::asio::steady_timer delay_;
  SimServer& server_;
  bool dropped_ = false;
};

}  // namespace facesim
