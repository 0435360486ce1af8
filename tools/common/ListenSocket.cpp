#include "tools/common/ListenSocket.h"

#include <chrono>
#include <memory>

#include "tools/common/ScriptWords.h"

namespace simtools {

namespace asio = boost::asio;

bool ParseListenAddress(const std::string& text, std::string* ip, uint16_t* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  boost::system::error_code ec;
  asio::ip::make_address_v4(text.substr(0, colon), ec);
  int number = 0;
  if (ec || !ParseBoundedInt(text.substr(colon + 1), 0, 65535, &number)) return false;
  *ip = text.substr(0, colon);
  *port = static_cast<uint16_t>(number);
  return true;
}

bool OpenAcceptor(asio::ip::tcp::acceptor& acceptor, const std::string& ip, uint16_t port,
                  std::string* error) {
  boost::system::error_code ec;
  const asio::ip::address_v4 address = asio::ip::make_address_v4(ip, ec);
  const asio::ip::tcp::endpoint endpoint(address, port);
  if (!ec) acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    boost::system::error_code ignored;
    acceptor.close(ignored);
    *error = "cannot listen on " + ip + ":" + std::to_string(port) + ": " + ec.message();
    return false;
  }
  return true;
}

bool StartListening(asio::ip::tcp::acceptor& acceptor, const std::string& ip, uint16_t* port,
                    EventPrinter& printer, std::string* error) {
  if (!OpenAcceptor(acceptor, ip, *port, error)) return false;
  *port = acceptor.local_endpoint().port();
  printer.Event("listening " + ip + ":" + std::to_string(*port));
  return true;
}

void AcceptConnections(asio::ip::tcp::acceptor& acceptor, EventPrinter& printer,
                       std::function<void(asio::ip::tcp::socket)> onAccept) {
  acceptor.async_accept([&acceptor, &printer, onAccept = std::move(onAccept)](
                            const boost::system::error_code& ec, asio::ip::tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
    if (!ec) {
      onAccept(std::move(socket));
      AcceptConnections(acceptor, printer, onAccept);
      return;
    }
    printer.Error("accept failed: " + ec.message());
    auto timer = std::make_shared<asio::steady_timer>(acceptor.get_executor(),
                                                      std::chrono::milliseconds(200));
    timer->async_wait([&acceptor, &printer, onAccept, timer](const boost::system::error_code& e) {
      if (!e && acceptor.is_open()) AcceptConnections(acceptor, printer, onAccept);
    });
  });
}

}  // namespace simtools
