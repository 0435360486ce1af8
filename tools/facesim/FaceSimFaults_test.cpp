// The answer faults that a script arms on a real vestrel-facesim, seen by an HTTP client, and
// requests that are not what the service expects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <boost/asio.hpp>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <zlib.h>

#include "support/JsonObject.h"
#include "tests/support/FaceSimProcess.h"
#include "tests/support/JsonFields.h"
#include "tests/support/WsProbe.h"

namespace simtest {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kLogin = "/user/web/login";
constexpr const char* kCredentials = R"({"username":"admin","password":"admin"})";

// Sends a login on a new connection and collects what comes back until the connection
// closes or the time is up.
std::string RawLogin(const FaceSimProcess& sim, std::chrono::milliseconds within) {
  namespace asio = boost::asio;
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  std::string answer;
  std::array<char, 65536> chunk;
  std::function<void()> readMore = [&] {
    socket.async_read_some(asio::buffer(chunk), [&](boost::system::error_code ec, std::size_t n) {
      answer.append(chunk.data(), n);
      if (!ec) readMore();
    });
  };
  socket.connect({asio::ip::make_address(sim.Ip()), sim.Port()});
  asio::write(socket, asio::buffer("POST " + std::string(kLogin) +
                                   " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                                   "Content-Length: " + std::to_string(std::strlen(kCredentials)) +
                                   "\r\n\r\n" + kCredentials));
  readMore();
  io.run_for(within);
  return answer;
}

// The size of the gzip data inflated, or -1 when it is not one whole gzip stream.
int64_t InflatedSize(const std::string& gzip) {
  z_stream stream{};
  std::vector<Bytef> out(1 << 20);
  inflateInit2(&stream, 15 + 16);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
  stream.avail_in = static_cast<uInt>(gzip.size());
  int64_t size = 0, status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    status = inflate(&stream, Z_NO_FLUSH);
    size += static_cast<int64_t>(out.size() - stream.avail_out);
  }
  inflateEnd(&stream);
  return status == Z_STREAM_END && stream.avail_in == 0 ? size : -1;
}

class FaceSimFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim_.Started()) << sim_.Errors(); }

  HttpReply Login() { return PostJson(sim_.Ip(), sim_.Port(), kLogin, kCredentials); }

  // Arms one fault for the login (name: as the acknowledgement calls it, when not the
  // behaviour itself) and has one login answered with it.
  HttpReply LoginWith(const std::string& behaviour, const std::string& name = "") {
    const std::string prefix = std::string("next ") + kLogin + " ";
    EXPECT_TRUE(
        sim_.Arm(prefix + behaviour, "armed " + prefix + (name.empty() ? behaviour : name)));
    return Login();
  }

  FaceSimProcess sim_{"frsv2", {}};
};

TEST_F(FaceSimFaultsTest, EachAnswerFaultReachesTheClientAsArmed) {
  HttpReply reply = LoginWith("status=503");
  EXPECT_EQ(503, reply.status);
  EXPECT_TRUE(sim_.WaitForLine("request /user/web/login status=503 fault=status=503"));

  reply = LoginWith("garbage");
  EXPECT_EQ(200, reply.status);
  EXPECT_FALSE(neb::CJsonObject().Parse(reply.body)) << reply.body;

  reply = LoginWith("empty");
  EXPECT_EQ(200, reply.status);
  EXPECT_EQ("", reply.body);
  EXPECT_TRUE(sim_.WaitForLine("request /user/web/login status=200 fault=empty"));

  reply = LoginWith("deep");
  EXPECT_EQ(200, reply.status);
  EXPECT_EQ(200000u, reply.body.size());
  EXPECT_EQ(std::string(100000, '['), reply.body.substr(0, 100000));

  reply = LoginWith("huge");
  EXPECT_EQ(200, reply.status);
  EXPECT_EQ(5u * 1024 * 1024, reply.body.size());
  EXPECT_FALSE(JsonText(reply.body, {"sessionId"}).empty());

  reply = LoginWith("body={\"sessionId\": \"from the script\"}", "body");
  EXPECT_EQ(200, reply.status);
  EXPECT_EQ("{\"sessionId\": \"from the script\"}", reply.body);
  EXPECT_TRUE(sim_.WaitForLine("request /user/web/login status=200 fault=body"));

  reply = LoginWith("close");
  EXPECT_EQ(0, reply.status);
  EXPECT_TRUE(sim_.WaitForLine("request /user/web/login status=0 fault=close"));

  reply = LoginWith("truncated");
  EXPECT_EQ(0, reply.status) << reply.body;
  EXPECT_TRUE(sim_.WaitForLine("request /user/web/login status=200 fault=truncated"));

  reply = LoginWith(R"(body={"isMatch":false}\r\n2026 ERROR Vestrel - FORGED\x01)", "body");
  EXPECT_EQ("{\"isMatch\":false}\r\n2026 ERROR Vestrel - FORGED\x01", reply.body);

  reply = LoginWith("wide=3");
  EXPECT_EQ("[{},{},{}]", JsonMember(reply.body, {"padding"}));
  EXPECT_FALSE(JsonText(reply.body, {"sessionId"}).empty());

  reply = LoginWith("drip=0.001");
  EXPECT_EQ(200, reply.status);
  EXPECT_FALSE(JsonText(reply.body, {"sessionId"}).empty());
  ASSERT_TRUE(sim_.Arm("next /user/web/login drip=0.5", "armed next /user/web/login drip=0.5"));
  const std::string dripped = RawLogin(sim_, std::chrono::milliseconds(1200));
  EXPECT_FALSE(dripped.empty());
  EXPECT_LE(dripped.size(), 4u);  // one byte at once, then one each 0.5 s
  EXPECT_EQ(0u, std::string("HTTP/1.1 200 OK").rfind(dripped, 0)) << dripped;

  ASSERT_TRUE(sim_.Arm("next /user/web/login gzip-bomb", "armed next /user/web/login gzip-bomb"));
  const std::string bomb = RawLogin(sim_, std::chrono::seconds(10));
  const size_t bodyAt = bomb.find("\r\n\r\n") + 4;
  EXPECT_THAT(bomb.substr(0, bodyAt), HasSubstr("Content-Encoding: gzip\r\n"));
  EXPECT_LT(bomb.size() - bodyAt, 1100000u);
  EXPECT_EQ(int64_t{1} << 30, InflatedSize(bomb.substr(bodyAt)));

  ASSERT_TRUE(sim_.Arm("next /user/web/login headers", "armed next /user/web/login headers"));
  const std::string endless = RawLogin(sim_, std::chrono::milliseconds(500));
  EXPECT_THAT(endless, StartsWith("HTTP/1.1 200 OK\r\nX-Pad-0: "));
  EXPECT_GT(endless.size(), 100000u);
  EXPECT_EQ(endless.find("\r\n\r\n"), std::string::npos);  // the headers never end

  // Every fault was used once: the next login is plain.
  reply = Login();
  EXPECT_EQ(200, reply.status);
  EXPECT_FALSE(JsonText(reply.body, {"sessionId"}).empty());
}

TEST_F(FaceSimFaultsTest, FaultsQueueUpPerEndpointInOrder) {
  ASSERT_TRUE(sim_.Arm("next /user/web/login status=500", "armed next /user/web/login status=500"));
  ASSERT_TRUE(sim_.Arm("next user/web/login status=401", "armed next /user/web/login status=401"));
  ASSERT_TRUE(sim_.Arm("next /frengine/verify-face status=502",
                       "armed next /frengine/verify-face status=502"));
  EXPECT_EQ(500, Login().status);
  EXPECT_EQ(401, Login().status);
  EXPECT_EQ(200, Login().status);
  // The verify fault waits for a verify request, whatever it carries.
  EXPECT_EQ(502, PostJson(sim_.Ip(), sim_.Port(), "/frengine/verify-face", "{}").status);
  EXPECT_EQ(400, PostJson(sim_.Ip(), sim_.Port(), "/frengine/verify-face", "{}").status);
}

TEST_F(FaceSimFaultsTest, MalformedRequestsAreRefusedAndTheServiceLivesOn) {
  EXPECT_EQ(400, PostJson(sim_.Ip(), sim_.Port(), kLogin, "{\"username\":\"admin\"").status);
  EXPECT_EQ(
      400, PostJson(sim_.Ip(), sim_.Port(), kLogin, std::string(5000, '[') + std::string(5000, ']'))
               .status);
  EXPECT_EQ(400, PostJson(sim_.Ip(), sim_.Port(), kLogin, "\"just text\"").status);

  // Bytes that are not HTTP at all, on a plain socket.
  boost::asio::io_context io;
  boost::asio::ip::tcp::socket socket(io);
  socket.connect({boost::asio::ip::make_address(sim_.Ip()), sim_.Port()});
  boost::asio::write(socket, boost::asio::buffer(std::string("\x16\x03\x01 hello?\r\n\r\n")));
  std::string answer;
  boost::system::error_code ec;
  boost::asio::read(socket, boost::asio::dynamic_buffer(answer), ec);  // until it closes
  EXPECT_THAT(answer, StartsWith("HTTP/1.1 400"));
  EXPECT_TRUE(sim_.WaitForError("malformed HTTP request"));

  EXPECT_EQ(200, Login().status);
}

TEST(FaceSimStreamFaultsTest, UpgradeFaultsRefuseOrDelayTheStream) {
  FaceSimProcess sim("frs", {});
  ASSERT_TRUE(sim.Started()) << sim.Errors();
  ASSERT_TRUE(
      sim.Arm("next /fcsreconizedresult status=403", "armed next /fcsreconizedresult status=403"));
  WsProbe refused;
  EXPECT_FALSE(refused.Connect(sim.Ip(), sim.Port(), "/fcsreconizedresult"));
  EXPECT_EQ(403, refused.ResponseCode());
  EXPECT_TRUE(sim.WaitForLine("request /fcsreconizedresult status=403 fault=status=403"));

  ASSERT_TRUE(
      sim.Arm("next /fcsreconizedresult slow=0.5", "armed next /fcsreconizedresult slow=0.5"));
  WsProbe delayed;
  EXPECT_TRUE(
      delayed.Connect(sim.Ip(), sim.Port(), "/fcsreconizedresult", std::chrono::seconds(5)));
  EXPECT_TRUE(sim.WaitForLine("request /fcsreconizedresult held=0.5"));
  EXPECT_TRUE(sim.WaitForLine("request /fcsreconizedresult status=101 fault=slow=0.5"));
  EXPECT_TRUE(sim.WaitForLine("ws open /fcsreconizedresult"));
}

}  // namespace
}  // namespace simtest
