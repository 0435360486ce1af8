// A real vestrel-facesim in frs mode over loopback: login, verify and logout over HTTP, and the
// results pushed on the two WebSocket streams.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "support/JsonObject.h"
#include "tests/support/FaceSimProcess.h"
#include "tests/support/JsonFields.h"
#include "tests/support/WsProbe.h"

namespace simtest {
namespace {

using std::chrono::milliseconds;
using ::testing::HasSubstr;

constexpr const char* kRecognized = "/fcsreconizedresult";
constexpr const char* kUnrecognized = "/fcsnonreconizedresult";

class FaceSimFrsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    people_ = WritePeople(dir_, {"face-640x480.jpg person=p1 name=\"Zoë Å\" groups=VIP,Employee",
                                 "face-camera-640x480.jpg person=p2 name=Cam"});
    sim_ = std::make_unique<FaceSimProcess>("frs", std::vector<std::string>{"--people", people_});
    ASSERT_TRUE(sim_->Started()) << sim_->Errors();
  }

  HttpReply Post(const std::string& path, const std::string& body) {
    return PostJson(sim_->Ip(), sim_->Port(), path, body);
  }

  std::string Login() {
    const HttpReply reply = Post("/users/login", R"({"username":"admin","password":"admin"})");
    EXPECT_EQ(200, reply.status) << reply.error;
    return JsonText(reply.body, {"sessionId"});
  }

  HttpReply Verify(const std::string& session, const std::string& picture,
                   const std::string& target = "0.800000") {
    return Post("/frs/cgi/verifyface",
                "{\"session_id\":" + Quoted(session) + ",\"target_score\":" + target +
                    ",\"request_client\":\"pos\",\"action_enable\":1,\"source_id\":\"1\","
                    "\"location\":\"door\",\"image\":" +
                    Quoted(picture) + "}");
  }

  // Opens a probe on a stream and waits for the simulator to report it.
  std::unique_ptr<WsProbe> Open(const std::string& path) {
    auto probe = std::make_unique<WsProbe>();
    EXPECT_TRUE(probe->Connect(sim_->Ip(), sim_->Port(), path));
    EXPECT_TRUE(sim_->WaitForLine("ws open " + path));
    return probe;
  }

  TempDir dir_;
  std::string people_;
  std::unique_ptr<FaceSimProcess> sim_;
};

TEST_F(FaceSimFrsTest, VerifiedThumbnailIsPushedToEveryRecognisedStreamConnection) {
  auto first = Open(kRecognized);
  auto second = Open(kRecognized);
  auto unrecognized = Open(kUnrecognized);
  const std::string session = Login();
  const HttpReply verify = Verify(session, ThumbnailBase64("face-640x480.jpg", dir_));
  ASSERT_EQ(200, verify.status) << verify.error;
  const std::string id = JsonText(verify.body, {"verify_face_id"});
  std::string line;
  ASSERT_TRUE(
      sim_->WaitForPrefix("request /frs/cgi/verifyface status=200 person=p1 score=", &line));
  EXPECT_TRUE(sim_->WaitForLine(std::string("push ") + kRecognized + " verify_face_id=" + id));

  for (WsProbe* probe : {first.get(), second.get()}) {
    std::string message;
    ASSERT_TRUE(probe->NextMessage(&message, std::chrono::seconds(5)));
    EXPECT_EQ(id, JsonText(message, {"verify_face_id"}));
    EXPECT_EQ("p1", JsonText(message, {"person_id"}));
    EXPECT_GE(JsonNumber(message, {"score"}), 0.9);
    EXPECT_EQ("Zo\xC3\xAB \xC3\x85", JsonText(message, {"person_info", "fullname"}));
    EXPECT_EQ(R"([{"groupname":"VIP"},{"groupname":"Employee"}])",
              JsonMember(message, {"person_info", "group_list"}));
  }
  std::string nothing;
  EXPECT_FALSE(unrecognized->NextMessage(&nothing, milliseconds(300)));

  // A stranger goes to the other stream, with the best visitor's name and score.
  const HttpReply stranger = Verify(session, ThumbnailBase64("face-chelsea-640x480.jpg", dir_));
  ASSERT_EQ(200, stranger.status);
  std::string message;
  ASSERT_TRUE(unrecognized->NextMessage(&message, std::chrono::seconds(5)));
  EXPECT_EQ(JsonText(stranger.body, {"verify_face_id"}), JsonText(message, {"verify_face_id"}));
  EXPECT_LT(JsonNumber(message, {"highest_score", "score"}), 0.8);
  EXPECT_FALSE(JsonText(message, {"highest_score", "fullname"}).empty());
  EXPECT_FALSE(first->NextMessage(&nothing, milliseconds(300)));
}

TEST_F(FaceSimFrsTest, SessionsAreCheckedAndLogoutEndsThem) {
  EXPECT_EQ(401, Post("/users/login", R"({"username":"admin","password":"nope"})").status);
  const std::string picture = ThumbnailBase64("face-640x480.jpg", dir_);
  EXPECT_EQ(401, Verify("made-up", picture).status);
  EXPECT_TRUE(sim_->WaitForLine("request /frs/cgi/verifyface status=401"));
  const std::string session = Login();
  ASSERT_FALSE(session.empty());
  EXPECT_EQ(200, Post("/users/logout", "{\"sessionId\":" + Quoted(session) + "}").status);
  EXPECT_TRUE(sim_->WaitForLine("request /users/logout status=200"));
  EXPECT_EQ(401, Verify(session, picture).status);
  // Not found, not the way to reach a stream, not JSON: refused, the service lives on.
  EXPECT_EQ(404, Post("/users/logon", "{}").status);
  EXPECT_EQ(426, Post(kRecognized, "{}").status);
  EXPECT_EQ(400, Post("/users/login", "{\"username\":").status);
  EXPECT_TRUE(sim_->WaitForLine("request /users/login status=400"));
  EXPECT_THAT(sim_->Errors(), HasSubstr("request /users/login: the body is not JSON"));
  EXPECT_FALSE(Login().empty());
}

TEST_F(FaceSimFrsTest, PingsAndClosesOfAStreamAreReported) {
  auto probe = Open(kRecognized);
  ASSERT_TRUE(probe->Ping("heartbeat"));
  EXPECT_TRUE(sim_->WaitForLine("ws ping heartbeat"));
  probe->Close();
  EXPECT_TRUE(probe->WaitEnded(std::chrono::seconds(5)));
  EXPECT_TRUE(sim_->WaitForLine(std::string("ws closed ") + kRecognized));
  // A stream the service does not have refuses the upgrade.
  WsProbe stranger;
  EXPECT_FALSE(stranger.Connect(sim_->Ip(), sim_->Port(), "/fcsresult"));
  EXPECT_EQ(404, stranger.ResponseCode());
}

TEST_F(FaceSimFrsTest, PushFaultsApplyToTheNextResultsInOrder) {
  auto probe = Open(kRecognized);
  ASSERT_TRUE(sim_->Arm("push-delay 0", "set push-delay 0"));
  const std::string session = Login();
  const std::string picture = ThumbnailBase64("face-640x480.jpg", dir_);
  ASSERT_TRUE(sim_->Arm("push none", "armed push none"));
  ASSERT_TRUE(sim_->Arm("push twice", "armed push twice"));
  ASSERT_TRUE(sim_->Arm("push garbage", "armed push garbage"));
  ASSERT_TRUE(sim_->Arm("push wrong-id", "armed push wrong-id"));

  // none: the result is never sent.
  std::string id = JsonText(Verify(session, picture).body, {"verify_face_id"});
  EXPECT_TRUE(sim_->WaitForLine("push none verify_face_id=" + id));
  std::string message;
  EXPECT_FALSE(probe->NextMessage(&message, milliseconds(300)));

  // twice: the same message two times.
  id = JsonText(Verify(session, picture).body, {"verify_face_id"});
  std::string again;
  ASSERT_TRUE(probe->NextMessage(&message, std::chrono::seconds(5)));
  ASSERT_TRUE(probe->NextMessage(&again, std::chrono::seconds(5)));
  EXPECT_EQ(message, again);
  EXPECT_EQ(id, JsonText(message, {"verify_face_id"}));
  EXPECT_EQ(2, sim_->Count(std::string("push ") + kRecognized + " verify_face_id=" + id));

  // garbage: text that is not JSON.
  id = JsonText(Verify(session, picture).body, {"verify_face_id"});
  ASSERT_TRUE(probe->NextMessage(&message, std::chrono::seconds(5)));
  EXPECT_FALSE(neb::CJsonObject().Parse(message)) << message;
  EXPECT_TRUE(
      sim_->WaitForLine(std::string("push ") + kRecognized + " garbage verify_face_id=" + id));

  // wrong-id: a well-formed result under an id nobody asked for.
  id = JsonText(Verify(session, picture).body, {"verify_face_id"});
  ASSERT_TRUE(probe->NextMessage(&message, std::chrono::seconds(5)));
  const std::string other = JsonText(message, {"verify_face_id"});
  EXPECT_NE(id, other);
  EXPECT_EQ("p1", JsonText(message, {"person_id"}));
  EXPECT_TRUE(sim_->WaitForLine(std::string("push ") + kRecognized + " verify_face_id=" + other +
                                " instead-of=" + id));

  // Then normal again.
  id = JsonText(Verify(session, picture).body, {"verify_face_id"});
  ASSERT_TRUE(probe->NextMessage(&message, std::chrono::seconds(5)));
  EXPECT_EQ(id, JsonText(message, {"verify_face_id"}));

  // Nobody on the other stream: the result is lost and the simulator says so.
  id = JsonText(Verify(session, ThumbnailBase64("face-chelsea-640x480.jpg", dir_)).body,
                {"verify_face_id"});
  EXPECT_TRUE(sim_->WaitForError("no open connection, the result for " + id + " is lost"));
}

TEST_F(FaceSimFrsTest, PushDelayHoldsTheResultBack) {
  auto probe = Open(kRecognized);
  ASSERT_TRUE(sim_->Arm("push-delay 1.5", "set push-delay 1.5"));
  const HttpReply verify = Verify(Login(), ThumbnailBase64("face-640x480.jpg", dir_));
  ASSERT_EQ(200, verify.status);
  std::string message;
  EXPECT_FALSE(probe->NextMessage(&message, milliseconds(700)));
  ASSERT_TRUE(probe->NextMessage(&message, std::chrono::seconds(5)));
  EXPECT_EQ(JsonText(verify.body, {"verify_face_id"}), JsonText(message, {"verify_face_id"}));
}

TEST_F(FaceSimFrsTest, SlowAnswerDoesNotHoldUpOtherConnections) {
  const std::string session = Login();
  ASSERT_TRUE(sim_->Arm("next /users/logout slow=3", "armed next /users/logout slow=3"));
  std::atomic<bool> slowAnswered{false};
  auto slow = std::async(std::launch::async, [&] {
    const HttpReply reply = Post("/users/logout", "{\"sessionId\":" + Quoted(session) + "}");
    slowAnswered = true;
    return reply;
  });
  ASSERT_TRUE(sim_->WaitForLine("request /users/logout held=3"));
  // While that answer waits, other connections are served at once.
  auto probe = Open(kRecognized);
  EXPECT_FALSE(Login().empty());
  EXPECT_FALSE(slowAnswered);
  const HttpReply late = slow.get();
  EXPECT_EQ(200, late.status) << late.error;
  EXPECT_TRUE(sim_->WaitForLine("request /users/logout status=200 fault=slow=3"));
}

TEST_F(FaceSimFrsTest, StallLeavesTheOpenStreamsUnreadButConnected) {
  auto stalled = Open(kRecognized);
  ASSERT_TRUE(stalled->Ping("before"));
  EXPECT_TRUE(sim_->WaitForLine("ws ping before"));
  ASSERT_TRUE(sim_->Arm("ws stall", "ws stall streams=1"));
  ASSERT_TRUE(stalled->Ping("after"));
  EXPECT_FALSE(stalled->WaitEnded(milliseconds(1000)));
  // A connection opened later is served as usual; the stalled one read nothing.
  auto fresh = Open(kRecognized);
  ASSERT_TRUE(fresh->Ping("fresh"));
  EXPECT_TRUE(sim_->WaitForLine("ws ping fresh"));
  EXPECT_EQ(0, sim_->Count("ws ping after"));
}

}  // namespace
}  // namespace simtest
