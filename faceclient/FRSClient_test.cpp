#include "faceclient/FRSClient.h"

#include <gtest/gtest.h>

#include "tests/support/FaceClientFixture.h"

namespace {

const char* const kLogin = "/users/login";
const char* const kVerify = "/frs/cgi/verifyface";
const char* const kLogout = "/users/logout";

VerifyResult* Result(const std::string& verifyId, int32_t group = kGroupVip) {
  auto* r = new VerifyResult();
  r->verifyId = verifyId;
  r->personId = "p-" + verifyId;
  r->groupId = group;
  r->groupName = "VIP";
  r->personName = "Name " + verifyId;
  r->confidence = "0.910000";
  return r;
}

class FRSClientTest : public FaceClientFixture<FRSClient> {
 protected:
  FRSClientTest() {
    config_.Client = "shop";
    config_.Enable = 1;
    config_.Source = "cam";
    config_.Location = "door";
    service_.Default(kLogin, 200, R"({"sessionId":"S1"})");
    service_.Default(kLogout, 200, "{}");
    // The fake service has no event stream; its attempts fail quietly and rarely.
    prepare_ = [](FRSClient& client) { client.SetStreamTickPeriod(60000); };
  }
  // Pushes a snapshot and waits until the service was asked to verify it.
  void SendForVerification(int faceId, const std::string& verifyId) {
    if (client_ == nullptr) StartClient();
    service_.Next(kVerify, 200, R"({"verify_face_id":")" + verifyId + R"("})");
    const std::size_t before = service_.RequestsTo(kLogout).size();
    client_->PushSnapshot(NewSnapshot(faceId));
    ASSERT_TRUE(WaitFor([&] { return service_.RequestsTo(kLogout).size() > before; }));
  }
  static bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

TEST_F(FRSClientTest, RequestsAreSentByteForByte) {
  SendForVerification(4, "v4");
  const auto requests = service_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].body, R"({"username":"user","password":"pw"})");
  EXPECT_EQ(requests[1].body,
            R"({"session_id":"S1","target_score":0.800000,"request_client":"shop",)"
            R"("action_enable":1,"source_id":"cam","location":"door","image":"AAAA"})");
  EXPECT_EQ(requests[1].contentType, "application/json");
  EXPECT_EQ(requests[2].body, R"({"sessionId":"S1"})");
}

TEST_F(FRSClientTest, APushedResultCompletesThePendingSnapshotOnceOnly) {
  SendForVerification(1, "v1");
  EXPECT_EQ(results_.Count(), 0u);
  now_ += 1;
  client_->PushVerifyResult(Result("v1"));
  ASSERT_TRUE(results_.WaitFor(1));
  const FaceSnapshot s = results_.Snapshots()[0];
  EXPECT_EQ(s.PersonId, "p-v1");
  EXPECT_EQ(s.GroupId, kGroupVip);
  EXPECT_EQ(s.PersonGroup, "VIP");
  EXPECT_EQ(s.PersonName, "Name v1");
  EXPECT_EQ(s.Confidence, "0.910000");
  EXPECT_EQ(s.VerifyId, "v1");
  EXPECT_EQ(s.VerifyTime, 1700000000);
  // The line follows the callback.
  EXPECT_TRUE(WaitFor([&] {
    return log_.Count("Process face snapshot: v1, v1, 1700000001, 1700000000 1, 1 @4====") == 1;
  }));
  client_->PushVerifyResult(Result("v1"));  // pushed twice
  client_->PushVerifyResult(Result("unknown"));
  now_ += 5;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(results_.Count(), 1u);
}

TEST_F(FRSClientTest, WithoutAResultTheSnapshotIsGivenUpOnceTheClockMovedByThree) {
  SendForVerification(2, "v2");
  now_ += 2;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(results_.Count(), 0u);
  now_ += 1;
  ASSERT_TRUE(results_.WaitFor(1));
  const FaceSnapshot s = results_.Snapshots()[0];
  EXPECT_EQ(s.GroupId, kGroupNoAnswer);
  EXPECT_EQ(s.PersonId, "");
  EXPECT_EQ(s.VerifyId, "");
  EXPECT_TRUE(WaitFor([&] {
    return log_.Count("Process face snapshot: , 1700000003, 1700000000 -3, 2 @5====") == 1;
  }));
  client_->PushVerifyResult(Result("v2"));  // late: dropped
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(results_.Count(), 1u);
}

TEST_F(FRSClientTest, AClockSetBackKeepsTheSnapshotPending) {
  SendForVerification(2, "v2");
  now_ -= 100;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(results_.Count(), 0u);
  client_->PushVerifyResult(Result("v2"));
  ASSERT_TRUE(results_.WaitFor(1));
  EXPECT_EQ(results_.Snapshots()[0].GroupId, kGroupVip);
}

TEST_F(FRSClientTest, TwoResultsBeforeOneWakeUpAreBothHandled) {
  SendForVerification(1, "a");
  SendForVerification(2, "b");
  client_->PushVerifyResult(Result("b", kGroupEmployee));
  client_->PushVerifyResult(Result("a", kGroupBlacklist));
  ASSERT_TRUE(results_.WaitFor(2));
  const auto snapshots = results_.Snapshots();
  EXPECT_EQ(snapshots[0].FaceID, 2);
  EXPECT_EQ(snapshots[0].GroupId, kGroupEmployee);
  EXPECT_EQ(snapshots[1].FaceID, 1);
  EXPECT_EQ(snapshots[1].GroupId, kGroupBlacklist);
}

// Two workers: the result comes on the stream while its verify answer is still on the way, and
// the idle worker holds it until that verify has put its snapshot into the table. A stray
// result that came meanwhile is dropped once that verify has ended.
TEST_F(FRSClientTest, AResultBeforeItsVerifyAnswerWaitsForIt) {
  workers_ = 2;
  StartClient();
  service_.Next(kVerify, 200, R"({"verify_face_id":"early"})", std::chrono::milliseconds(300));
  client_->PushSnapshot(NewSnapshot(1));
  ASSERT_TRUE(WaitFor([&] { return service_.RequestsTo(kVerify).size() == 1; }));
  client_->PushVerifyResult(Result("stray"));
  client_->PushVerifyResult(Result("early"));
  ASSERT_TRUE(results_.WaitFor(1));
  EXPECT_EQ(results_.Snapshots()[0].FaceID, 1);
  EXPECT_EQ(results_.Snapshots()[0].GroupId, kGroupVip);
  now_ += 5;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(results_.Count(), 1u);
}

TEST_F(FRSClientTest, AnEmptyOrMissingVerifyIdDeliversAtOnceWithMinusThree) {
  StartClient();
  service_.Next(kVerify, 200, R"({"verify_face_id":""})");
  service_.Next(kVerify, 200, R"({"other":1})");
  service_.Next(kVerify, 500, "down");
  for (int id = 1; id <= 3; ++id) client_->PushSnapshot(NewSnapshot(id));
  ASSERT_TRUE(results_.WaitFor(3));
  for (const auto& s : results_.Snapshots()) EXPECT_EQ(s.GroupId, kGroupNoAnswer);
  EXPECT_EQ(log_.CountContaining("@7===="), 3);
  EXPECT_TRUE(WaitFor([&] { return service_.RequestsTo(kLogout).size() == 3u; }));
}

TEST_F(FRSClientTest, AnUnreachableServerGivesMinusThreeWithoutVerifyOrLogout) {
  service_.Next(kLogin, 401, "");
  service_.Next(kLogin, 500, "");
  StartClient();
  for (int id = 1; id <= 2; ++id) client_->PushSnapshot(NewSnapshot(id));
  ASSERT_TRUE(results_.WaitFor(2));
  for (const auto& s : results_.Snapshots()) EXPECT_EQ(s.GroupId, kGroupNoAnswer);
  EXPECT_EQ(log_.Count("Process face snapshot: 1, 1700000000, 1 @8===="), 1);
  EXPECT_TRUE(service_.RequestsTo(kVerify).empty());
  EXPECT_TRUE(service_.RequestsTo(kLogout).empty());
  StopClient();
  config_.Port = 1;  // nothing listens
  EXPECT_EQ(Identify(3).GroupId, kGroupNoAnswer);
}

TEST_F(FRSClientTest, AVerifyIdAlreadyPendingWritesTheOlderSnapshotAtOnce) {
  SendForVerification(1, "same");
  SendForVerification(2, "same");
  ASSERT_TRUE(results_.WaitFor(1));
  EXPECT_EQ(results_.Snapshots()[0].FaceID, 1);
  EXPECT_EQ(results_.Snapshots()[0].GroupId, kGroupNoAnswer);
  client_->PushVerifyResult(Result("same"));
  ASSERT_TRUE(results_.WaitFor(2));
  EXPECT_EQ(results_.Snapshots()[1].FaceID, 2);
  EXPECT_EQ(results_.Snapshots()[1].GroupId, kGroupVip);
}

TEST_F(FRSClientTest, SnapshotsPendingAtStopAreWrittenUnidentified) {
  SendForVerification(1, "x");
  SendForVerification(2, "y");
  StopClient();
  ASSERT_EQ(results_.Count(), 2u);
  for (const auto& s : results_.Snapshots()) {
    EXPECT_EQ(s.GroupId, kGroupNoAnswer);
    EXPECT_EQ(s.PersonId, "");
  }
  EXPECT_EQ(log_.CountContaining("Face client stopped with 2 snapshots waiting for their result"),
            1);
}

// The worker is held in a dripping verify while results arrive; Stop cancels the request and
// matches the results that came before it gives the rest up.
TEST_F(FRSClientTest, AtStopResultsThatArrivedAreMatchedAndTheirMemoryIsBounded) {
  SendForVerification(1, "v1");
  service_.Next(kVerify, {200, std::string(1000, ' '), {}, std::chrono::milliseconds(100)});
  client_->PushSnapshot(NewSnapshot(2));
  ASSERT_TRUE(WaitFor([&] { return service_.RequestsTo(kVerify).size() == 2; }));
  VerifyResult* big = Result("v2");
  big->personName.assign(FRSClient::kMaxResultBytes, 'n');
  client_->PushVerifyResult(big);  // over the bound: dropped
  client_->PushVerifyResult(Result("v1"));
  StopClient();
  ASSERT_EQ(results_.Count(), 2u);
  EXPECT_EQ(results_.Snapshots()[0].FaceID, 2);
  EXPECT_EQ(results_.Snapshots()[0].GroupId, kGroupNoAnswer);
  EXPECT_EQ(results_.Snapshots()[1].FaceID, 1);
  EXPECT_EQ(results_.Snapshots()[1].GroupId, kGroupVip);
  EXPECT_EQ(log_.Count("Verify result v2 dropped: too many results waiting"), 1);
  EXPECT_EQ(log_.CountContaining(std::string(kVerify) + " cancelled: the face client stops"), 1);
}

}  // namespace
