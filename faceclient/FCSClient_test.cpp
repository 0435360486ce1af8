#include "faceclient/FCSClient.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

#include "support/TextHelpers.h"
#include "tests/support/ClosingServer.h"
#include "tests/support/FaceClientFixture.h"
#include "tests/support/SilentServer.h"

namespace {

const char* const kWhois = "/api/fcs/person/whois";
const char* const kInfo = "/api/fcs/person/info";
const std::string kQualityOk =
    R"("result":{"detail":{"detect":"success","angle":"success","extract":"success"}})";

std::string Whois(const std::string& candidates) {
  return R"({"status":1,)" + kQualityOk + R"(,"candidates":[)" + candidates + "]}";
}
std::string Person(const std::string& groups, const std::string& name = "Ann") {
  return R"({"status":1,"person":{"groups":[)" + groups + R"(],"info":{"name":")" + name +
         R"("}}})";
}

using FCSClientTest = FaceClientFixture<FCSClient>;

TEST_F(FCSClientTest, RequestsCarryTheAccountAndThePictureByteForByte) {
  service_.Next(kWhois, 200, Whois(R"({"s":0.9,"person_id":"p-7"})"));
  service_.Next(kInfo, 200, Person(R"("VIP")"));
  const FaceSnapshot s = Identify(11);
  const auto whois = service_.RequestsTo(kWhois);
  const auto info = service_.RequestsTo(kInfo);
  ASSERT_EQ(whois.size(), 1u);
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(whois[0].body, R"({"access_key":"key-1","acc_id":"acc-1","face_pic":"AAAA"})");
  EXPECT_EQ(whois[0].contentType, "application/json");
  EXPECT_EQ(info[0].body, R"({"access_key":"key-1","acc_id":"acc-1","person_id":"p-7"})");
  EXPECT_EQ(s.PersonId, "p-7");
  EXPECT_EQ(s.GroupId, kGroupVip);
  EXPECT_EQ(s.PersonGroup, "VIP");
  EXPECT_EQ(s.Confidence, "0.90");
  EXPECT_EQ(s.PersonName, "Ann");
}

TEST_F(FCSClientTest, TheBestCandidateAboveTheThresholdWins) {
  service_.Next(kWhois, 200, Whois(R"({"s":0.85,"person_id":"a"},{"s":0.92,"person_id":"b"})"));
  service_.Next(kInfo, 200, Person(""));
  const FaceSnapshot s = Identify(1);
  EXPECT_EQ(s.PersonId, "b");
  EXPECT_EQ(s.Confidence, "0.92");
  EXPECT_EQ(service_.RequestsTo(kInfo).at(0).body.find(R"("person_id":"b")") != std::string::npos,
            true);
  EXPECT_EQ(log_.CountContaining("@4===="), 2);
  EXPECT_EQ(log_.Count("Process face snapshot: 1, b, 1700000000 @4===="), 1);
}

TEST_F(FCSClientTest, TheRunningBestCountsWithTwoDecimalsOnly) {
  service_.Next(kWhois, 200, Whois(R"({"s":0.854,"person_id":"a"},{"s":0.852,"person_id":"b"})"));
  service_.Next(kInfo, 200, Person(""));
  const FaceSnapshot s = Identify(1);
  EXPECT_EQ(s.PersonId, "b");  // 0.852 > 0.85 read back
  EXPECT_EQ(s.Confidence, "0.85");
}

TEST_F(FCSClientTest, AScoreEqualToTheThresholdIsNotAMatch) {
  service_.Next(kWhois, 200, Whois(R"({"s":0.8,"person_id":"a"})"));
  const FaceSnapshot s = Identify(1);
  EXPECT_EQ(s.GroupId, kGroupNoMatch);
  EXPECT_EQ(s.Confidence, "0.0");
  EXPECT_EQ(s.PersonId, "");
  EXPECT_TRUE(service_.RequestsTo(kInfo).empty());
}

TEST_F(FCSClientTest, CandidatesWithoutAScoreAreSkippedAndNoCandidatesMeansNoAnswer) {
  service_.Next(kWhois, 200, Whois(R"({"person_id":"a"},"text",{"s":0.95,"person_id":"c"})"));
  service_.Next(kInfo, 200, Person(""));
  EXPECT_EQ(Identify(1).PersonId, "c");
  EXPECT_EQ(log_.CountContaining("@4===="), 1);
  service_.Next(kWhois, 200, R"({"status":1})");
  const FaceSnapshot s = Identify(2);
  EXPECT_EQ(s.GroupId, kGroupNoAnswer);
}

TEST_F(FCSClientTest, AnErrorStatusIsLoggedWithItsCodeAndGivesNoAnswer) {
  service_.Next(kWhois, 200, R"({"status":0,"error_code":1001,"candidates":[{"s":0.99}]})");
  const FaceSnapshot s = Identify(5);
  EXPECT_EQ(s.GroupId, kGroupNoAnswer);
  EXPECT_EQ(log_.Count("Process face snapshot: 5, 1001, 1700000000 @3===="), 1);
  EXPECT_TRUE(service_.RequestsTo(kInfo).empty());
  EXPECT_EQ(log_.Count("Process face snapshot: 5, 1700000000 @6===="), 1);
}

TEST_F(FCSClientTest, AFailedQualityStepGivesMinusFourEvenWithCandidates) {
  for (const char* step : {"detect", "angle", "extract"}) {
    service_.Next(kWhois, 200,
                  std::string(R"({"status":1,"result":{"detail":{")") + step +
                      R"(":"fail"}},"candidates":[{"s":0.99,"person_id":"a"}]})");
    EXPECT_EQ(Identify(1).GroupId, kGroupDetectFailed) << step;
  }
  // Only the exact word counts.
  service_.Next(kWhois, 200,
                R"({"status":1,"result":{"detail":{"detect":"FAIL"}},"candidates":[]})");
  EXPECT_EQ(Identify(2).GroupId, kGroupNoMatch);
  EXPECT_TRUE(service_.RequestsTo(kInfo).empty());
}

TEST_F(FCSClientTest, TheGroupWalkKeepsTheLastNameAndBlacklistWins) {
  struct Case {
    std::string groups;
    int32_t code;
    std::string name;
  };
  const Case cases[] = {
      {R"("VIP","Employee")", kGroupEmployee, "Employee"},
      {R"("Employee","Blacklist","VIP")", kGroupBlacklist, "Blacklist"},
      {R"("VIP","Friends")", kGroupVip, "Friends"},
      {R"("vip")", kGroupNotIdentified, "vip"},
      {"", kGroupNotIdentified, ""},
      {R"(7,"VIP",{"x":1})", kGroupVip, "VIP"},
  };
  int id = 0;
  for (const Case& c : cases) {
    service_.Next(kWhois, 200, Whois(R"({"s":0.9,"person_id":"a"})"));
    service_.Next(kInfo, 200, Person(c.groups));
    const FaceSnapshot s = Identify(++id);
    EXPECT_EQ(s.GroupId, c.code) << c.groups;
    EXPECT_EQ(s.PersonGroup, c.name) << c.groups;
  }
}

TEST_F(FCSClientTest, APersonAnswerThatFailsKeepsTheWhoisOutcome) {
  service_.Next(kWhois, 200, Whois(R"({"s":0.9,"person_id":"a"})"));
  service_.Next(kInfo, 200, R"({"status":1})");
  FaceSnapshot s = Identify(1);
  EXPECT_EQ(s.GroupId, kGroupNoMatch);
  EXPECT_EQ(s.PersonId, "a");
  EXPECT_EQ(s.Confidence, "0.90");
  EXPECT_EQ(log_.Count("Process face snapshot: 1, 1700000000 @10===="), 1);

  service_.Next(kWhois, 200, Whois(R"({"s":0.9,"person_id":"a"})"));
  service_.Next(kInfo, 200, R"({"status":3})");
  EXPECT_EQ(Identify(2).GroupId, kGroupNoMatch);
  EXPECT_EQ(log_.Count("Process face snapshot: 2, 3, 1700000000 @9===="), 1);  // status stands

  service_.Next(kWhois, 200, Whois(R"({"s":0.9,"person_id":"a"})"));
  service_.Next(kInfo, 500, "broken");
  s = Identify(3);
  EXPECT_EQ(s.GroupId, kGroupNoMatch);
  EXPECT_EQ(s.PersonId, "a");
  EXPECT_EQ(log_.Count("Process face snapshot: broken, 3, 1700000000 @7===="), 1);
}

TEST_F(FCSClientTest, TheNameIsConvertedFromUtf8) {
  service_.Next(kWhois, 200, Whois(R"({"s":0.9,"person_id":"a"})"));
  service_.Next(kInfo, 200, Person(R"("VIP")", "Zo\u00EB"));
  const FaceSnapshot s = Identify(1);
  std::unique_ptr<char[]> expected(Utf8ToAnsi("Zo\xC3\xAB"));
  EXPECT_EQ(s.PersonName, expected.get());
}

TEST_F(FCSClientTest, HostileAnswersGiveNoAnswerAndTheClientCarriesOn) {
  std::string deep(100000, '[');
  deep += std::string(100000, ']');
  const std::string huge = R"({"status":1,"candidates":[],"pad":")" +
                           std::string(5 * 1024 * 1024, 'x') + R"("})";
  const std::pair<int, std::string> answers[] = {
      {200, "\x01garbage{"}, {200, ""}, {200, deep}, {500, "Internal error"}, {404, ""}};
  int id = 0;
  for (const auto& answer : answers) {
    service_.Next(kWhois, answer.first, answer.second);
    EXPECT_EQ(Identify(++id).GroupId, kGroupNoAnswer) << answer.second.substr(0, 20);
  }
  service_.Next(kWhois, 200, huge);  // valid, but over the answer limit
  EXPECT_EQ(Identify(++id).GroupId, kGroupNoAnswer);
  service_.Next(kWhois, 500, huge);
  EXPECT_EQ(Identify(++id).GroupId, kGroupNoAnswer);
  for (const auto& line : log_.Texts()) {
    EXPECT_LE(line.size(), 1023u);
  }
  EXPECT_EQ(log_.CountContaining("Internal error, 4, 1700000000 @1===="), 1);
  // The client is still serving.
  service_.Next(kWhois, 200, Whois(R"({"s":0.9,"person_id":"z"})"));
  service_.Next(kInfo, 200, Person(R"("Employee")"));
  EXPECT_EQ(Identify(++id).GroupId, kGroupEmployee);
}

TEST_F(FCSClientTest, AnUnreachableOrClosingServiceGivesNoAnswer) {
  ClosingServer closing;
  config_.Port = closing.Port();
  EXPECT_EQ(Identify(1).GroupId, kGroupNoAnswer);
  EXPECT_EQ(log_.Count("Process face snapshot: no response, 1, 1700000000 @1===="), 1);
  StopClient();
  config_.Port = 1;  // nothing listens there
  EXPECT_EQ(Identify(2).GroupId, kGroupNoAnswer);
  StopClient();
  config_.Port = service_.Port();
  config_.Tls = true;  // the service speaks plain HTTP
  EXPECT_EQ(Identify(3).GroupId, kGroupNoAnswer);
  EXPECT_EQ(log_.CountContaining(" refused, nothing sent: the TLS handshake failed"), 1);
}

// A host that never answers the connect: the stop cancels it, and the snapshot is written.
TEST_F(FCSClientTest, AStopCancelsAConnectToASilentHost) {
  SilentServer silent;
  config_.Port = silent.Port();
  StartClient().PushSnapshot(NewSnapshot(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the connect
  auto stopping = std::async(std::launch::async, [this] { StopClient(); });
  ASSERT_EQ(stopping.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  ASSERT_EQ(results_.Count(), 1u);
  EXPECT_EQ(results_.Snapshots()[0].GroupId, kGroupNoAnswer);
  EXPECT_EQ(log_.CountContaining(std::string(kWhois) + " cancelled: the face client stops"), 1);
}

TEST_F(FCSClientTest, AnAnswerPastTheReadTimeoutGivesNoAnswer) {
  service_.Next(kWhois, 200, Whois(R"({"s":0.9,"person_id":"a"})"), std::chrono::seconds(6));
  EXPECT_EQ(Identify(1).GroupId, kGroupNoAnswer);
  EXPECT_EQ(log_.Count("Process face snapshot: no response, 1, 1700000000 @1===="), 1);
}

}  // namespace
