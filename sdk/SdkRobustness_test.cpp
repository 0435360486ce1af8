// Malformed traffic in both directions: junk sent to a simulated camera, and a fake device
// that answers the library with junk. Neither side may crash, the bad connection closes,
// and the next login works.
#include <gtest/gtest.h>

#include <boost/asio.hpp>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "tests/support/SdkTestFixture.h"
#include "sdk/WireMessages.h"

namespace sdktest {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using sdkwire::FrameType;

// Sends bytes to an endpoint and reports whether the peer closed the connection within the
// bound (true) or kept it open (false).
bool PeerClosesAfter(const std::string& ip, uint16_t port, const std::vector<uint8_t>& bytes) {
  asio::io_context io;
  tcp::socket socket(io);
  boost::system::error_code ec;
  socket.connect(tcp::endpoint(asio::ip::make_address(ip), port), ec);
  if (ec) return false;
  asio::write(socket, asio::buffer(bytes), ec);
  bool closed = false;
  std::vector<uint8_t> sink(64 * 1024);
  std::function<void()> readMore = [&] {
    socket.async_read_some(asio::buffer(sink),
                           [&](const boost::system::error_code& error, std::size_t) {
                             if (error) {
                               closed = true;
                               return;
                             }
                             readMore();
                           });
  };
  readMore();
  io.run_for(std::chrono::seconds(20));
  return closed;
}

std::vector<uint8_t> Header(uint32_t magic, uint16_t version, FrameType type, uint32_t length) {
  sdkwire::FrameHeader header;
  header.magic = magic;
  header.version = version;
  header.type = static_cast<uint16_t>(type);
  header.length = length;
  std::vector<uint8_t> bytes(sdkwire::kHeaderSize);
  sdkwire::EncodeHeader(header, bytes.data());
  return bytes;
}

using SdkRobustnessTest = SdkTest;

TEST_F(SdkRobustnessTest, CameraDropsJunkAndStillServesLogins) {
  CamSimProcess camsim("127.0.0.40", {});
  ASSERT_TRUE(camsim.Started()) << camsim.Errors();
  const std::string text = "GET / HTTP/1.0\r\n\r\n";
  EXPECT_TRUE(
      PeerClosesAfter(camsim.Ip(), camsim.Port(), std::vector<uint8_t>(text.begin(), text.end())));
  // A well-formed header announcing far more than any request may carry.
  EXPECT_TRUE(PeerClosesAfter(
      camsim.Ip(), camsim.Port(),
      Header(sdkwire::kMagic, sdkwire::kVersion, FrameType::LoginRequest, 0xFFFFFFFFu)));
  // A frame type that only devices send.
  EXPECT_TRUE(PeerClosesAfter(camsim.Ip(), camsim.Port(),
                              Header(sdkwire::kMagic, sdkwire::kVersion, FrameType::Alarm, 0)));
  // A request before any login, and a login whose texts run past the frame.
  auto ping = Header(sdkwire::kMagic, sdkwire::kVersion, FrameType::PingRequest, 8);
  ping.resize(ping.size() + 8, 0);
  EXPECT_TRUE(PeerClosesAfter(camsim.Ip(), camsim.Port(), ping));
  auto login = Header(sdkwire::kMagic, sdkwire::kVersion, FrameType::LoginRequest, 6);
  const uint8_t body[] = {1, 0, 0, 0, 0xFF, 0x7F};  // sequence 1, then a text of 32767 bytes
  login.insert(login.end(), body, body + sizeof body);
  EXPECT_TRUE(PeerClosesAfter(camsim.Ip(), camsim.Port(), login));
  EXPECT_TRUE(camsim.WaitForError("closed connection from"));

  const int32_t userId = Login(camsim);
  ASSERT_GE(userId, 0) << NET_DVR_GetLastError();
  EXPECT_TRUE(NET_DVR_RemoteControl(userId, NET_DVR_CHECK_USER_STATUS, nullptr, 0));
}

TEST_F(SdkRobustnessTest, CameraDropsClientsThatNeverLogIn) {
  CamSimProcess camsim("127.0.0.41", {"--login-timeout", "1"});
  ASSERT_TRUE(camsim.Started()) << camsim.Errors();
  // Nothing at all is sent: the device gives up on the connection by itself.
  EXPECT_TRUE(PeerClosesAfter(camsim.Ip(), camsim.Port(), {}));
  EXPECT_GE(Login(camsim), 0);
}

// A device that accepts one connection, reads the login request, and answers with whatever
// the test gives it, built from the request's sequence number. It records whether the
// library then closed the connection. Its own thread serves it, for a bounded time.
class FakeDevice {
 public:
  using Answer = std::function<std::vector<uint8_t>(uint32_t sequence)>;

  explicit FakeDevice(Answer answer)
      : acceptor_(io_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
        socket_(io_),
        answer_(std::move(answer)) {
    acceptor_.async_accept(socket_, [this](const boost::system::error_code& ec) {
      if (!ec) ReadRequest();
    });
    thread_ = std::thread([this] { io_.run_for(std::chrono::seconds(30)); });
  }
  ~FakeDevice() {
    io_.stop();
    thread_.join();
  }
  uint16_t Port() const { return acceptor_.local_endpoint().port(); }
  bool WaitForClose() {
    return closedFuture_.wait_for(std::chrono::seconds(15)) == std::future_status::ready;
  }

 private:
  void ReadRequest() {
    asio::async_read(
        socket_, asio::buffer(header_), [this](const boost::system::error_code& ec, std::size_t) {
          if (ec) return Closed();
          const sdkwire::FrameHeader decoded = sdkwire::DecodeHeader(header_);
          payload_.assign(decoded.length < 4096 ? decoded.length : 0, 0);
          asio::async_read(socket_, asio::buffer(payload_),
                           [this](const boost::system::error_code& error, std::size_t) {
                             if (error) return Closed();
                             uint32_t sequence = 0;
                             std::vector<uint8_t> body;
                             sdkwire::SplitSequence(payload_, &sequence, &body);
                             answerBytes_ = answer_(sequence);
                             asio::async_write(socket_, asio::buffer(answerBytes_),
                                               [this](const boost::system::error_code&,
                                                      std::size_t) { Drain(); });
                           });
        });
  }
  // Reads until the library hangs up.
  void Drain() {
    socket_.async_read_some(asio::buffer(sink_),
                            [this](const boost::system::error_code& ec, std::size_t) {
                              if (ec) return Closed();
                              Drain();
                            });
  }
  void Closed() {
    if (!closedSet_) closed_.set_value();
    closedSet_ = true;
  }

  asio::io_context io_;
  tcp::acceptor acceptor_;
  tcp::socket socket_;
  Answer answer_;
  uint8_t header_[sdkwire::kHeaderSize] = {};
  std::vector<uint8_t> payload_;
  std::vector<uint8_t> answerBytes_;
  std::vector<uint8_t> sink_ = std::vector<uint8_t>(4096);
  std::promise<void> closed_;
  std::future<void> closedFuture_ = closed_.get_future();
  bool closedSet_ = false;
  std::thread thread_;
};

std::vector<uint8_t> GoodLogin(uint32_t sequence) {
  sdkwire::LoginReply reply;
  reply.analogChannels = 1;
  reply.firstAnalogChannel = 1;
  return sdkwire::MakeFrame(FrameType::LoginReply,
                            sdkwire::WithSequence(sequence, sdkwire::Encode(reply)));
}

TEST_F(SdkRobustnessTest, LibraryRejectsAJunkLoginAnswer) {
  FakeDevice device([](uint32_t) {
    const std::string junk = "SSH-2.0-not-a-camera\r\n and some more bytes";
    return std::vector<uint8_t>(junk.begin(), junk.end());
  });
  EXPECT_LT(Login("127.0.0.1", device.Port(), "admin", "admin"), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_PROTOCOL_ERROR));
  EXPECT_TRUE(device.WaitForClose());
}

TEST_F(SdkRobustnessTest, LibraryRejectsALoginReplyWithBadFields) {
  FakeDevice device([](uint32_t sequence) {
    sdkwire::LoginReply reply;
    reply.analogChannels = 200;  // more channels than any device table holds
    return sdkwire::MakeFrame(FrameType::LoginReply,
                              sdkwire::WithSequence(sequence, sdkwire::Encode(reply)));
  });
  EXPECT_LT(Login("127.0.0.1", device.Port(), "admin", "admin"), 0);
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_PROTOCOL_ERROR));
  EXPECT_TRUE(device.WaitForClose());
}

TEST_F(SdkRobustnessTest, LibraryDropsADeviceThatSendsAnOversizedAlarm) {
  FakeDevice device([](uint32_t sequence) {
    std::vector<uint8_t> bytes = GoodLogin(sequence);
    const auto huge =
        Header(sdkwire::kMagic, sdkwire::kVersion, FrameType::Alarm, sdkwire::kMaxAlarmPayload + 1);
    bytes.insert(bytes.end(), huge.begin(), huge.end());
    return bytes;
  });
  const int32_t userId = Login("127.0.0.1", device.Port(), "admin", "admin");
  ASSERT_GE(userId, 0) << NET_DVR_GetLastError();
  EXPECT_TRUE(device.WaitForClose());
  EXPECT_FALSE(NET_DVR_RemoteControl(userId, NET_DVR_CHECK_USER_STATUS, nullptr, 0));
  EXPECT_EQ(NET_DVR_GetLastError(), static_cast<uint32_t>(NET_DVR_PROTOCOL_ERROR));
  EXPECT_TRUE(NET_DVR_Logout_V30(userId));
}

TEST_F(SdkRobustnessTest, LibraryDropsADeviceThatSendsAMalformedAlarm) {
  FakeDevice device([](uint32_t sequence) {
    std::vector<uint8_t> bytes = GoodLogin(sequence);
    // An alarm whose inner length claims more bytes than the frame holds.
    sdkwire::PayloadWriter writer;
    writer.U32(1).U32(COMM_UPLOAD_FACESNAP_RESULT).U32(1000);
    const auto frame = sdkwire::MakeFrame(FrameType::Alarm, writer.Bytes());
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    return bytes;
  });
  const int32_t userId = Login("127.0.0.1", device.Port(), "admin", "admin");
  ASSERT_GE(userId, 0) << NET_DVR_GetLastError();
  EXPECT_TRUE(device.WaitForClose());
  EXPECT_FALSE(NET_DVR_RemoteControl(userId, NET_DVR_CHECK_USER_STATUS, nullptr, 0));

  // The library itself is unharmed: a real camera logs in and delivers.
  CamSimProcess camsim("127.0.0.42", {});
  ASSERT_TRUE(camsim.Started()) << camsim.Errors();
  const int32_t good = Login(camsim);
  ASSERT_GE(good, 0);
  ASSERT_GE(OpenChannel(good), 0);
  camsim.Command("face id=77 jpeg=" + TestData("face-small.jpg"));
  EXPECT_TRUE(recorder_.WaitForFace(77));
  EXPECT_TRUE(recorder_.Alarms().size() == 1);
}

}  // namespace
}  // namespace sdktest
