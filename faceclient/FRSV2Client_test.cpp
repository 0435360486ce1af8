#include "faceclient/FRSV2Client.h"

#include <gtest/gtest.h>

#include "tests/support/ClosingServer.h"
#include "tests/support/FaceClientFixture.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificate.h"

namespace {

const char* const kLogin = "/user/web/login";
const char* const kVerify = "/frengine/verify-face";
const char* const kLogout = "/user/base/logout";

class FRSV2ClientTest : public FaceClientFixture<FRSV2Client> {
 protected:
  FRSV2ClientTest() {
    service_.Default(kLogin, 200, R"({"sessionId":"S1"})");
    service_.Default(kLogout, 200, "{}");
  }
};

TEST_F(FRSV2ClientTest, LoginVerifyAndLogoutAreSentByteForByte) {
  service_.Next(kVerify, 200,
                R"({"isMatch":true,"score":0.9,"personId":"p1","personName":"Bo",)"
                R"("personGroups":[{"name":"VIP"}]})");
  const FaceSnapshot s = Identify(3);
  const auto requests = service_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].path, kLogin);
  EXPECT_EQ(requests[0].body, R"({"username":"user","password":"pw"})");
  EXPECT_EQ(requests[0].contentType, "application/json");
  EXPECT_EQ(requests[0].acceptEncoding, "identity");
  EXPECT_EQ(requests[1].path, kVerify);
  EXPECT_EQ(requests[1].body,
            R"({"sessionId":"S1","imageBase64":"data:image/jpg;base64,AAAA",)"
            R"("options":{"threshold":0.800000,"hasReport":1}})");
  EXPECT_EQ(requests[2].target, "/user/base/logout?sessionId=S1");
  EXPECT_EQ(requests[2].body, "");
  EXPECT_FALSE(requests[2].hasContentType);
  EXPECT_EQ(s.GroupId, kGroupVip);
  EXPECT_EQ(s.PersonGroup, "VIP");
  EXPECT_EQ(s.PersonId, "p1");
  EXPECT_EQ(s.PersonName, "Bo");
  EXPECT_EQ(s.Confidence, "0.900000");
}

TEST_F(FRSV2ClientTest, NoMatchByFlagOrByScore) {
  service_.Next(kVerify, 200, R"({"isMatch":false,"score":0.99,"personId":"p","personName":"n"})");
  FaceSnapshot s = Identify(1);
  EXPECT_EQ(s.GroupId, kGroupNoMatch);
  EXPECT_EQ(s.PersonId, "");
  EXPECT_EQ(s.Confidence, "0.0");
  service_.Next(kVerify, 200, R"({"score":0.79,"personId":"p","personName":"n"})");
  s = Identify(2);
  EXPECT_EQ(s.GroupId, kGroupNoMatch);
  EXPECT_EQ(s.PersonName, "");
}

TEST_F(FRSV2ClientTest, AScoreEqualToTheThresholdPassesAndTheLastGroupNameIsKept) {
  service_.Next(kVerify, 200,
                R"({"score":0.8,"personId":"p","personName":"n",)"
                R"("personGroups":[{"name":"Employee"},{"name":"VIP"}]})");
  FaceSnapshot s = Identify(1);
  EXPECT_EQ(s.GroupId, kGroupVip);
  EXPECT_EQ(s.PersonGroup, "VIP");
  EXPECT_EQ(s.Confidence, "0.800000");
  service_.Next(kVerify, 200,
                R"({"isMatch":"yes","score":1,"personId":"p","personName":"n",)"
                R"("personGroups":[{"name":"Blacklist"},{"name":"VIP"}]})");
  s = Identify(2);
  EXPECT_EQ(s.GroupId, kGroupBlacklist);
  EXPECT_EQ(s.PersonGroup, "Blacklist");
  EXPECT_EQ(s.Confidence, "1.000000");
}

TEST_F(FRSV2ClientTest, AMatchWithoutPersonFieldsOrScoreGivesNoAnswer) {
  service_.Next(kVerify, 200, R"({"score":0.9,"personId":"p"})");
  FaceSnapshot s = Identify(1);
  EXPECT_EQ(s.GroupId, kGroupNoAnswer);
  EXPECT_EQ(s.PersonId, "");
  service_.Next(kVerify, 200, R"({"score":0.9,"personName":"n"})");
  EXPECT_EQ(Identify(2).GroupId, kGroupNoAnswer);
  service_.Next(kVerify, 200, R"({"isMatch":true,"personId":"p","personName":"n"})");
  EXPECT_EQ(Identify(3).GroupId, kGroupNoAnswer);
  EXPECT_EQ(log_.Count("Process face snapshot: 3, 1700000000 @6===="), 1);
}

TEST_F(FRSV2ClientTest, ARefusedLoginDeliversTheSnapshotUntouched) {
  service_.Next(kLogin, 401, "");
  const FaceSnapshot s = Identify(1);
  EXPECT_EQ(s.GroupId, kGroupNotIdentified);
  EXPECT_EQ(s.Confidence, "0.0");
  EXPECT_TRUE(service_.RequestsTo(kVerify).empty());
  EXPECT_TRUE(service_.RequestsTo(kLogout).empty());
}

TEST_F(FRSV2ClientTest, ALoginWithoutSessionIdKeepsThePreviousOne) {
  service_.Next(kLogin, 200, R"({"sessionId":"first"})");
  service_.Next(kLogin, 200, R"({})");
  service_.Default(kVerify, 200, R"({"isMatch":false})");
  Identify(1);
  Identify(2);
  const auto verifies = service_.RequestsTo(kVerify);
  ASSERT_EQ(verifies.size(), 2u);
  EXPECT_NE(verifies[1].body.find(R"("sessionId":"first")"), std::string::npos);
}

TEST_F(FRSV2ClientTest, TheSessionIdCannotChangeTheLogoutRequestLine) {
  EXPECT_EQ(FrsV2LogoutPath("a b&c=d\r\nX: y"),
            "/user/base/logout?sessionId=a%20b%26c%3Dd%0D%0AX%3A%20y");
  EXPECT_EQ(FrsV2LogoutPath("AZaz09-._~"), "/user/base/logout?sessionId=AZaz09-._~");
  service_.Next(kLogin, 200, R"({"sessionId":"x/y+z"})");
  service_.Next(kVerify, 200, R"({"isMatch":false})");
  Identify(1);
  ASSERT_EQ(service_.RequestsTo(kLogout).size(), 1u);
  EXPECT_EQ(service_.RequestsTo(kLogout)[0].target, "/user/base/logout?sessionId=x%2Fy%2Bz");
}

TEST_F(FRSV2ClientTest, HostileVerifyAnswersGiveNoAnswerAndTheClientCarriesOn) {
  prepare_ = [](FRSV2Client& client) { client.SetRequestDeadline(1500); };
  std::string deep(100000, '[');
  deep += std::string(100000, ']');
  const FakeFaceService::Reply answers[] = {
      {200, "not json"}, {200, ""}, {200, deep}, {500, "oops"},
      {200, R"({"score":0.9,"pad":")" + std::string(5 * 1024 * 1024, 'x') + "\"}"},
      {200, R"({"isMatch":false})", {}, {}, "gzip"},
      {200, R"({"isMatch":false})" + std::string(100, ' '), {}, std::chrono::milliseconds(100)},
      {500, "{}\n2026-12-08 10:00:00 ERROR Vestrel - FORGED\r\x01"}};
  int id = 0;
  for (const auto& answer : answers) {
    service_.Next(kVerify, answer);
    EXPECT_EQ(Identify(++id).GroupId, kGroupNoAnswer) << answer.body.substr(0, 20);
  }
  for (const auto& line : log_.Texts()) {
    EXPECT_LE(line.size(), 1023u);
    EXPECT_EQ(line.find_first_of("\r\n\x01"), std::string::npos) << line;  // no forged line
  }
  EXPECT_EQ(log_.Count("Process face snapshot: oops, 4, 1700000000 @1===="), 1);
  EXPECT_EQ(log_.CountContaining("{}\\n2026-12-08 10:00:00 ERROR Vestrel - FORGED\\r\\x01, 8"), 1);
  EXPECT_EQ(log_.CountContaining("@2===="), 3);
  EXPECT_EQ(log_.CountContaining(std::string(kVerify) +
                                 " abandoned: the answer is larger than the limit of 1048576 bytes"),
            1);
  EXPECT_EQ(log_.CountContaining("abandoned: the answer is compressed (gzip)"), 1);
  EXPECT_EQ(log_.CountContaining("abandoned: no complete answer within the limit of 1500 ms"), 1);
  service_.Next(kVerify, 200, R"({"score":0.9,"personId":"p","personName":"n"})");
  EXPECT_EQ(Identify(++id).GroupId, kGroupNotIdentified);  // identified, no listed group
}

TEST_F(FRSV2ClientTest, AClosedConnectionOnLoginLeavesTheSnapshotAsItCame) {
  ClosingServer closing;
  config_.Port = closing.Port();
  const FaceSnapshot s = Identify(1);
  EXPECT_EQ(s.GroupId, kGroupNotIdentified);
}

TEST_F(FRSV2ClientTest, TlsChecksTheCertificateAndTheHostBeforeSendingAnything) {
  const std::tuple<const char*, bool, const char*> rows[] = {
      {"IP:127.0.0.1", true, ""},
      {"IP:127.0.0.1", false, "the certificate does not verify: self"},
      {"DNS:other.example", true, "the certificate is not made out to this host"}};
  for (const auto& [subjectAltName, useCaFile, why] : rows) {
    TempDir dir;
    const TestCertificate cert(dir.path(), subjectAltName);
    FakeFaceService tls(cert.certPath, cert.keyPath);
    tls.Default(kLogin, 200, R"({"sessionId":"S1"})");
    tls.Default(kVerify, 200, R"({"isMatch":false})");
    config_.Port = tls.Port();
    config_.Tls = true;
    config_.CaFile = useCaFile ? cert.certPath : "";
    EXPECT_EQ(Identify(1).GroupId, *why ? kGroupNotIdentified : kGroupNoMatch) << why;
    StopClient();
    EXPECT_EQ(tls.Requests().size(), *why ? 0u : 3u);
    EXPECT_EQ(log_.CountContaining("Face service https://127.0.0.1:" + std::to_string(tls.Port()) +
                                   " refused, nothing sent: " + why),
              *why ? 1 : 0);
  }
}

}  // namespace
