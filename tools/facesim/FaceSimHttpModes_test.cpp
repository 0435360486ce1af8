// A real vestrel-facesim in fcs and frsv2 modes over loopback, its answer times, and TLS.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <chrono>
#include <future>
#include <string>

#include "support/JsonObject.h"
#include "tests/support/FaceSimProcess.h"
#include "tests/support/JsonFields.h"

namespace simtest {
namespace {

using ::testing::HasSubstr;

constexpr const char* kCredentials = R"({"username":"admin","password":"admin"})";

// Opens a wss connection to the path, trusting the certificate in caFile alone.
bool WssOpens(const FaceSimProcess& sim, const std::string& caFile, const std::string& path) {
  namespace asio = boost::asio;
  namespace beast = boost::beast;
  asio::io_context io;
  asio::ssl::context tls(asio::ssl::context::tls_client);
  tls.load_verify_file(caFile);
  beast::websocket::stream<beast::ssl_stream<beast::tcp_stream>> ws(io, tls);
  ws.next_layer().set_verify_mode(asio::ssl::verify_peer);
  bool open = false;
  beast::get_lowest_layer(ws).async_connect(
      {asio::ip::make_address(sim.Ip()), sim.Port()}, [&](beast::error_code ec) {
        if (ec) return;
        ws.next_layer().async_handshake(asio::ssl::stream_base::client, [&](beast::error_code ec) {
          if (!ec) ws.async_handshake(sim.Ip(), path, [&](beast::error_code ec) { open = !ec; });
        });
      });
  io.run_for(std::chrono::seconds(5));
  return open;
}

class FaceSimHttpModesTest : public ::testing::Test {
 protected:
  std::string People() {
    return WritePeople(dir_, {"face-640x480.jpg person=p1 name=Ann groups=Blacklist",
                              "face-camera-640x480.jpg person=p2 name=\"Bo Li\" groups=VIP"});
  }

  TempDir dir_;
};

TEST_F(FaceSimHttpModesTest, FcsWhoisFindsTheEnrolledVisitorAndInfoDescribesThem) {
  FaceSimProcess sim("fcs", {"--people", People(), "--account", "shop-7", "--access-key", "k3y"},
                     "127.0.0.2");
  ASSERT_TRUE(sim.Started()) << sim.Errors();
  const std::string credentials = R"({"access_key":"k3y","acc_id":"shop-7",)";
  HttpReply reply = PostJson(sim.Ip(), sim.Port(), "/api/fcs/person/whois",
                             credentials + "\"face_pic\":" +
                                 Quoted(ThumbnailBase64("face-camera-640x480.jpg", dir_)) + "}");
  ASSERT_EQ(200, reply.status) << reply.error;
  EXPECT_EQ(1, JsonNumber(reply.body, {"status"}));
  EXPECT_EQ("success", JsonText(reply.body, {"result", "detail", "extract"}));
  const std::string best = JsonMember(reply.body, {"candidates"});
  neb::CJsonObject candidates(best);
  ASSERT_EQ(2, candidates.GetArraySize());
  neb::CJsonObject first;
  ASSERT_TRUE(candidates.Get(0, first));
  EXPECT_EQ("p2", JsonText(first.ToString(), {"person_id"}));
  EXPECT_GE(JsonNumber(first.ToString(), {"s"}), 0.9);
  std::string line;
  EXPECT_TRUE(
      sim.WaitForPrefix("request /api/fcs/person/whois status=200 person=p2 score=", &line));

  reply =
      PostJson(sim.Ip(), sim.Port(), "/api/fcs/person/info", credentials + R"("person_id":"p2"})");
  EXPECT_EQ(R"({"status":1,"person":{"groups":["VIP"],"info":{"name":"Bo Li"}}})", reply.body);
  EXPECT_TRUE(sim.WaitForLine("request /api/fcs/person/info status=200 person=p2"));

  // The default account does not hold here.
  reply = PostJson(sim.Ip(), sim.Port(), "/api/fcs/person/info",
                   R"({"access_key":"demo-key","acc_id":"demo","person_id":"p2"})");
  EXPECT_EQ(200, reply.status);
  EXPECT_EQ(0, JsonNumber(reply.body, {"status"}));
  EXPECT_EQ(1001, JsonNumber(reply.body, {"error_code"}));
}

TEST_F(FaceSimHttpModesTest, FrsV2VerifiesWithinOneSessionAndLogsOutByQuery) {
  FaceSimProcess sim("frsv2", {"--people", People(), "--user", "op", "--password", "pw"},
                     "127.0.0.3");
  ASSERT_TRUE(sim.Started()) << sim.Errors();
  EXPECT_EQ(401, PostJson(sim.Ip(), sim.Port(), "/user/web/login",
                          R"({"username":"admin","password":"admin"})")
                     .status);
  HttpReply reply =
      PostJson(sim.Ip(), sim.Port(), "/user/web/login", R"({"username":"op","password":"pw"})");
  ASSERT_EQ(200, reply.status) << reply.error;
  const std::string session = JsonText(reply.body, {"sessionId"});

  const std::string picture = ThumbnailBase64("face-640x480.jpg", dir_);
  const std::string verify = "{\"sessionId\":" + Quoted(session) +
                             ",\"imageBase64\":\"data:image/jpg;base64," + picture +
                             "\",\"options\":{\"threshold\":0.800000,\"hasReport\":1}}";
  reply = PostJson(sim.Ip(), sim.Port(), "/frengine/verify-face", verify);
  ASSERT_EQ(200, reply.status) << reply.error;
  EXPECT_EQ("true", JsonMember(reply.body, {"isMatch"}));
  EXPECT_GE(JsonNumber(reply.body, {"score"}), 0.9);
  EXPECT_EQ("p1", JsonText(reply.body, {"personId"}));
  EXPECT_EQ("Ann", JsonText(reply.body, {"personName"}));
  EXPECT_EQ(R"([{"name":"Blacklist"}])", JsonMember(reply.body, {"personGroups"}));
  std::string line;
  EXPECT_TRUE(
      sim.WaitForPrefix("request /frengine/verify-face status=200 person=p1 score=", &line));

  reply = PostJson(sim.Ip(), sim.Port(), "/user/base/logout?sessionId=" + session, "");
  EXPECT_EQ(200, reply.status) << reply.error;
  EXPECT_TRUE(sim.WaitForLine("request /user/base/logout status=200"));
  EXPECT_EQ(401, PostJson(sim.Ip(), sim.Port(), "/frengine/verify-face", verify).status);
  // A picture without its data prefix is a bad request.
  reply = PostJson(sim.Ip(), sim.Port(), "/frengine/verify-face",
                   "{\"sessionId\":" + Quoted(session) + ",\"imageBase64\":\"" + picture +
                       "\",\"options\":{\"threshold\":0.8,\"hasReport\":1}}");
  EXPECT_EQ(400, reply.status);
  EXPECT_TRUE(sim.WaitForError("imageBase64 does not begin with"));
}

TEST_F(FaceSimHttpModesTest, LatencyDelaysEachAnswerAndConcurrencyMakesTheRestWait) {
  FaceSimProcess sim("frsv2", {"--latency", "0.4", "--concurrency", "1"});
  ASSERT_TRUE(sim.Started()) << sim.Errors();
  const auto start = std::chrono::steady_clock::now();
  auto verify = [&] { return PostJson(sim.Ip(), sim.Port(), "/frengine/verify-face", "{}"); };
  auto first = std::async(std::launch::async, verify);
  auto second = std::async(std::launch::async, verify);
  EXPECT_EQ(400, first.get().status);
  EXPECT_EQ(400, second.get().status);
  // One at a time, each 0.4 s late: the second answer cannot come before 0.8 s.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(800));
  EXPECT_TRUE(sim.WaitForLine("request /frengine/verify-face queued"));
}

TEST_F(FaceSimHttpModesTest, TlsServesHttpsAndWssWithTheGivenCertificate) {
  ASSERT_TRUE(MakeTestCertificate(dir_, "service"));
  FaceSimProcess sim("frs", {"--tls", dir_ / "service.pem", dir_ / "service.key"});
  ASSERT_TRUE(sim.Started()) << sim.Errors();
  httplib::SSLClient client(sim.Ip(), sim.Port());
  client.set_ca_cert_path((dir_ / "service.pem").c_str());
  client.enable_server_certificate_verification(true);
  client.set_connection_timeout(3, 0);
  client.set_read_timeout(5, 0);
  const httplib::Result login = client.Post("/users/login", kCredentials, "application/json");
  ASSERT_TRUE(login) << httplib::to_string(login.error());
  EXPECT_EQ(200, login->status);
  EXPECT_TRUE(WssOpens(sim, dir_ / "service.pem", "/fcsreconizedresult"));
  EXPECT_TRUE(sim.WaitForLine("ws open /fcsreconizedresult"));
  // Plain HTTP gets no answer.
  EXPECT_EQ(0, PostJson(sim.Ip(), sim.Port(), "/users/login", kCredentials).status);
  EXPECT_TRUE(sim.WaitForError("tls handshake failed"));
}

}  // namespace
}  // namespace simtest
