// The three protocols without the network: requests in, answers and pushed results out.
#include "tools/facesim/ServiceMode.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Base64.h"
#include "support/JsonObject.h"
#include "tests/support/JsonFields.h"
#include "tests/support/TempDir.h"
#include "tools/facesim/FcsMode.h"
#include "tools/facesim/FrsMode.h"
#include "tools/facesim/FrsV2Mode.h"

namespace facesim {
namespace {

using neb::CJsonObject;
using simtest::JsonMember;
using simtest::JsonNumber;
using simtest::JsonText;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string Data(const std::string& name) {
  return std::string(VESTREL_TEST_DATA_DIR) + "/" + name;
}

std::string PictureBase64(const std::string& name) {
  const std::string bytes = ReadFileBytes(Data(name));
  return Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                      static_cast<int>(bytes.size()));
}

std::string Text(const CJsonObject& json, const char* key) {
  return JsonText(json.ToString(), {key});
}

double Number(const CJsonObject& json, const char* key) {
  return JsonNumber(json.ToString(), {key});
}

class ServiceModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(gallery_.Enrol(
        Data("face-640x480.jpg") + " person=p1 name=\"Zoë\" groups=Employee,VIP", "", &error))
        << error;
    ASSERT_TRUE(gallery_.Enrol(Data("face-camera-640x480.jpg") + " person=p2 name=Cam", "", &error))
        << error;
  }

  ServiceAnswer Post(ServiceMode& mode, const std::string& path, const std::string& body,
                     const std::string& query = "", int wide = 0) {
    ServiceRequest request;
    request.path = path;
    request.query = query;
    request.body = body;
    request.wide = wide;
    return mode.Handle(request);
  }

  std::string Login(ServiceMode& mode, const std::string& path) {
    const ServiceAnswer answer = Post(mode, path, R"({"username":"admin","password":"admin"})");
    EXPECT_EQ(200, answer.status) << answer.body;
    const CJsonObject json(answer.body);
    EXPECT_EQ(std::vector<std::string>{"sessionId"}, json.GetKeys());
    return Text(json, "sessionId");
  }

  FaceSimOptions options_;
  Gallery gallery_;
};

std::string FrsVerifyBody(const std::string& session, const std::string& image,
                          const std::string& targetScore = "0.800000") {
  return R"({"session_id":")" + session + R"(","target_score":)" + targetScore +
         R"(,"request_client":"pos-1","action_enable":1,"source_id":"cam","location":"door",)" +
         R"("image":")" + image + R"("})";
}

TEST_F(ServiceModeTest, FrsLoginChecksCredentialsAndEverySessionIsNew) {
  FrsMode frs(options_, gallery_);
  const std::string first = Login(frs, FrsMode::kLogin);
  EXPECT_NE(first, Login(frs, FrsMode::kLogin));
  EXPECT_EQ(401, Post(frs, FrsMode::kLogin, R"({"username":"admin","password":"x"})").status);
  EXPECT_EQ(401, Post(frs, FrsMode::kLogin, R"({"username":"root","password":"admin"})").status);
  const ServiceAnswer misspelt =
      Post(frs, FrsMode::kLogin, R"({"userName":"admin","password":"admin"})");
  EXPECT_EQ(400, misspelt.status);
  EXPECT_THAT(misspelt.problem, HasSubstr("\"userName\" should be \"username\""));
  EXPECT_EQ(400, Post(frs, FrsMode::kLogin, "not json").status);
  EXPECT_EQ(400, Post(frs, FrsMode::kLogin, "[1,2]").status);
  EXPECT_EQ(400, Post(frs, FrsMode::kLogin, R"({"username":1,"password":"admin"})").status);
}

TEST_F(ServiceModeTest, FrsVerifyPushesRecognisedWhenTheBestScoreReachesTheTarget) {
  FrsMode frs(options_, gallery_);
  const std::string session = Login(frs, FrsMode::kLogin);
  const ServiceAnswer answer =
      Post(frs, FrsMode::kVerify, FrsVerifyBody(session, PictureBase64("face-progressive.jpg")));
  ASSERT_EQ(200, answer.status) << answer.body;
  const CJsonObject json(answer.body);
  EXPECT_EQ(std::vector<std::string>{"verify_face_id"}, json.GetKeys());
  const std::string verifyId = Text(json, "verify_face_id");
  EXPECT_FALSE(verifyId.empty());
  EXPECT_EQ("p1", answer.person);
  ASSERT_TRUE(answer.score);
  EXPECT_GE(*answer.score, 0.9);
  ASSERT_TRUE(answer.push);
  EXPECT_EQ(FrsMode::kRecognizedStream, answer.push->stream);
  EXPECT_EQ(verifyId, answer.push->verifyId);

  const CJsonObject message(answer.push->message(verifyId));
  EXPECT_EQ((std::vector<std::string>{"verify_face_id", "person_id", "score", "person_info"}),
            message.GetKeys());
  EXPECT_EQ(verifyId, Text(message, "verify_face_id"));
  EXPECT_EQ("p1", Text(message, "person_id"));
  EXPECT_DOUBLE_EQ(*answer.score, Number(message, "score"));
  const CJsonObject info(JsonMember(message.ToString(), {"person_info"}));
  EXPECT_EQ("Zo\xC3\xAB", Text(info, "fullname"));
  const CJsonObject groups(JsonMember(info.ToString(), {"group_list"}));
  ASSERT_EQ(2, groups.GetArraySize());
  CJsonObject group;
  ASSERT_TRUE(groups.Get(1, group));
  EXPECT_EQ("VIP", Text(group, "groupname"));
  // Another id goes into the same message when the script asks for a wrong one.
  EXPECT_EQ("other", Text(CJsonObject(answer.push->message("other")), "verify_face_id"));
  // wide=N pads the pushed group list.
  const ServiceAnswer wide = Post(frs, FrsMode::kVerify,
                                  FrsVerifyBody(session, PictureBase64("face-progressive.jpg")), "", 3);
  EXPECT_TRUE(wide.widened);
  EXPECT_THAT(wide.push->message("x"), HasSubstr(R"({"groupname":"VIP"},{},{},{}])"));
}

TEST_F(ServiceModeTest, FrsVerifyPushesNotRecognisedBelowTheTargetOrForABadPicture) {
  FrsMode frs(options_, gallery_);
  const std::string session = Login(frs, FrsMode::kLogin);
  // The same picture, but the target is out of reach.
  ServiceAnswer answer = Post(frs, FrsMode::kVerify,
                              FrsVerifyBody(session, PictureBase64("face-640x480.jpg"), "1.01"));
  ASSERT_EQ(200, answer.status);
  ASSERT_TRUE(answer.push);
  EXPECT_EQ(FrsMode::kUnrecognizedStream, answer.push->stream);
  CJsonObject message(answer.push->message(answer.push->verifyId));
  EXPECT_EQ((std::vector<std::string>{"verify_face_id", "highest_score"}), message.GetKeys());
  CJsonObject highest(JsonMember(message.ToString(), {"highest_score"}));
  EXPECT_EQ("Zo\xC3\xAB", Text(highest, "fullname"));
  EXPECT_DOUBLE_EQ(1.0, Number(highest, "score"));

  // A stranger against a target of 0.8.
  answer = Post(frs, FrsMode::kVerify,
                FrsVerifyBody(session, PictureBase64("face-chelsea-640x480.jpg")));
  ASSERT_TRUE(answer.push);
  EXPECT_EQ(FrsMode::kUnrecognizedStream, answer.push->stream);
  ASSERT_TRUE(answer.score);
  EXPECT_LT(*answer.score, 0.8);

  // A picture that does not decode: answered, nobody recognised, the problem reported.
  answer = Post(frs, FrsMode::kVerify, FrsVerifyBody(session, PictureBase64("truncated.jpg")));
  EXPECT_EQ(200, answer.status);
  EXPECT_THAT(answer.problem, HasSubstr("does not decode"));
  EXPECT_TRUE(answer.person.empty());
  EXPECT_FALSE(answer.score);
  ASSERT_TRUE(answer.push);
  message.Parse(answer.push->message(answer.push->verifyId));
  highest.Parse(JsonMember(message.ToString(), {"highest_score"}));
  EXPECT_EQ("", Text(highest, "fullname"));
  EXPECT_EQ(0, Number(highest, "score"));
}

TEST_F(ServiceModeTest, FrsVerifyNeedsAnOpenSessionAndEveryMemberWithItsType) {
  FrsMode frs(options_, gallery_);
  const std::string picture = PictureBase64("face-small.jpg");
  ServiceAnswer answer = Post(frs, FrsMode::kVerify, FrsVerifyBody("nobody", picture));
  EXPECT_EQ(401, answer.status);
  EXPECT_FALSE(answer.push);

  const std::string session = Login(frs, FrsMode::kLogin);
  std::string body = FrsVerifyBody(session, picture);
  const std::vector<std::pair<std::string, std::string>> breakages = {
      {"\"target_score\":0.800000", "\"target_score\":\"0.8\""},
      {"\"action_enable\":1", "\"action_enable\":1.0"},
      {"\"action_enable\":1", "\"action_enable\":true"},
      {"\"session_id\"", "\"Session_Id\""},
      {"\"location\":\"door\",", ""},
      {"\"image\":\"", "\"picture\":\""}};
  for (const auto& breakage : breakages) {
    std::string broken = body;
    broken.replace(broken.find(breakage.first), breakage.first.size(), breakage.second);
    answer = Post(frs, FrsMode::kVerify, broken);
    EXPECT_EQ(400, answer.status) << broken.substr(0, 150);
    EXPECT_FALSE(answer.problem.empty());
    EXPECT_FALSE(answer.push);
  }
  EXPECT_EQ(200, Post(frs, FrsMode::kVerify, body).status);

  // Logout ends the session; a second logout does not find it.
  EXPECT_EQ(200, Post(frs, FrsMode::kLogout, "{\"sessionId\":\"" + session + "\"}").status);
  EXPECT_EQ(401, Post(frs, FrsMode::kVerify, body).status);
  EXPECT_EQ(401, Post(frs, FrsMode::kLogout, "{\"sessionId\":\"" + session + "\"}").status);
  EXPECT_EQ(400, Post(frs, FrsMode::kLogout, "{\"session_id\":\"" + session + "\"}").status);
}

std::string FcsBody(const std::string& lastMember, const std::string& key = "demo-key",
                    const std::string& account = "demo") {
  return R"({"access_key":")" + key + R"(","acc_id":")" + account + R"(",)" + lastMember + "}";
}

TEST_F(ServiceModeTest, FcsWhoisListsEveryVisitorBestFirst) {
  FcsMode fcs(options_, gallery_);
  const ServiceAnswer answer =
      Post(fcs, FcsMode::kWhois,
           FcsBody("\"face_pic\":\"" + PictureBase64("face-camera-small.jpg") + "\""));
  ASSERT_EQ(200, answer.status);
  const CJsonObject json(answer.body);
  EXPECT_EQ((std::vector<std::string>{"status", "result", "candidates"}), json.GetKeys());
  EXPECT_EQ(1, Number(json, "status"));
  const CJsonObject detail(JsonMember(answer.body, {"result", "detail"}));
  EXPECT_EQ("success", Text(detail, "detect"));
  EXPECT_EQ("success", Text(detail, "angle"));
  EXPECT_EQ("success", Text(detail, "extract"));
  const CJsonObject candidates(JsonMember(answer.body, {"candidates"}));
  ASSERT_EQ(2, candidates.GetArraySize());
  CJsonObject first, second;
  ASSERT_TRUE(candidates.Get(0, first) && candidates.Get(1, second));
  EXPECT_EQ((std::vector<std::string>{"s", "person_id"}), first.GetKeys());
  EXPECT_GE(Number(first, "s"), Number(second, "s"));
  EXPECT_EQ(answer.person, Text(first, "person_id"));
  EXPECT_DOUBLE_EQ(*answer.score, Number(first, "s"));
}

TEST_F(ServiceModeTest, FcsAnswersStatusZeroForWrongAccountAndUnknownPerson) {
  FcsMode fcs(options_, gallery_);
  const std::string picture = "\"face_pic\":\"" + PictureBase64("face-small.jpg") + "\"";
  for (const std::string& body : {FcsBody(picture, "wrong"), FcsBody(picture, "demo-key", "other"),
                                  FcsBody("\"person_id\":\"p1\"", "wrong")}) {
    const ServiceAnswer answer = Post(
        fcs, body.find("face_pic") != std::string::npos ? FcsMode::kWhois : FcsMode::kInfo, body);
    EXPECT_EQ(200, answer.status);
    EXPECT_EQ(R"({"status":0,"error_code":1001})", answer.body);
  }
  EXPECT_EQ(R"({"status":0,"error_code":1002})",
            Post(fcs, FcsMode::kInfo, FcsBody("\"person_id\":\"p9\"")).body);
  EXPECT_EQ(400, Post(fcs, FcsMode::kInfo, FcsBody("\"personId\":\"p1\"")).status);
  EXPECT_EQ(400, Post(fcs, FcsMode::kWhois, FcsBody("\"face_pic\":7")).status);
}

TEST_F(ServiceModeTest, FcsWhoisFailsDetectionOfABadPictureAndInfoGivesGroupsAndName) {
  FcsMode fcs(options_, gallery_);
  ServiceAnswer answer =
      Post(fcs, FcsMode::kWhois, FcsBody("\"face_pic\":\"bm90IGEgcGljdHVyZQ==\""));
  const CJsonObject json(answer.body);
  EXPECT_EQ((std::vector<std::string>{"status", "result"}), json.GetKeys());
  EXPECT_EQ("fail", Text(CJsonObject(JsonMember(answer.body, {"result", "detail"})), "detect"));
  EXPECT_FALSE(answer.problem.empty());

  answer = Post(fcs, FcsMode::kInfo, FcsBody("\"person_id\":\"p1\""));
  EXPECT_EQ("p1", answer.person);
  EXPECT_EQ(R"({"status":1,"person":{"groups":["Employee","VIP"],"info":{"name":"Zoë"}}})",
            answer.body);
  EXPECT_EQ(R"({"status":1,"person":{"groups":[],"info":{"name":"Cam"}}})",
            Post(fcs, FcsMode::kInfo, FcsBody("\"person_id\":\"p2\"")).body);
  EXPECT_EQ(R"({"status":1,"person":{"groups":[{},{}],"info":{"name":"Cam"}}})",
            Post(fcs, FcsMode::kInfo, FcsBody("\"person_id\":\"p2\""), "", 2).body);
}

std::string V2VerifyBody(const std::string& session, const std::string& image,
                         const std::string& options = R"({"threshold":0.800000,"hasReport":1})") {
  return R"({"sessionId":")" + session + R"(","imageBase64":"data:image/jpg;base64,)" + image +
         R"(","options":)" + options + "}";
}

TEST_F(ServiceModeTest, FrsV2VerifyAnswersTheBestPersonAgainstTheThreshold) {
  FrsV2Mode v2(options_, gallery_);
  const std::string session = Login(v2, FrsV2Mode::kLogin);
  const std::string picture = PictureBase64("face-640x480.jpg");
  ServiceAnswer answer = Post(v2, FrsV2Mode::kVerify, V2VerifyBody(session, picture));
  ASSERT_EQ(200, answer.status) << answer.body;
  EXPECT_FALSE(answer.push);
  CJsonObject json(answer.body);
  EXPECT_EQ(
      (std::vector<std::string>{"isMatch", "score", "personId", "personName", "personGroups"}),
      json.GetKeys());
  bool match = false;
  EXPECT_TRUE(json.Get("isMatch", match) && match);
  EXPECT_DOUBLE_EQ(1.0, Number(json, "score"));
  EXPECT_EQ("p1", Text(json, "personId"));
  EXPECT_EQ("Zo\xC3\xAB", Text(json, "personName"));
  EXPECT_EQ(R"([{"name":"Employee"},{"name":"VIP"}])", JsonMember(answer.body, {"personGroups"}));
  answer = Post(v2, FrsV2Mode::kVerify, V2VerifyBody(session, picture), "", 2);
  EXPECT_EQ(R"([{"name":"Employee"},{"name":"VIP"},{},{}])",
            JsonMember(answer.body, {"personGroups"}));

  // Out of reach: the same person, not a match.
  answer = Post(v2, FrsV2Mode::kVerify,
                V2VerifyBody(session, picture, R"({"threshold":1.5,"hasReport":1})"));
  json.Parse(answer.body);
  EXPECT_TRUE(json.Get("isMatch", match));
  EXPECT_FALSE(match);
  EXPECT_EQ("p1", Text(json, "personId"));

  // Nobody enrolled: no match, score 0, no person.
  Gallery empty;
  FrsV2Mode lonely(options_, empty);
  const std::string other = Login(lonely, FrsV2Mode::kLogin);
  EXPECT_EQ(R"({"isMatch":false,"score":0.000000})",
            Post(lonely, FrsV2Mode::kVerify, V2VerifyBody(other, picture)).body);
}

TEST_F(ServiceModeTest, FrsV2ChecksThePicturePrefixTheOptionsAndTheSession) {
  FrsV2Mode v2(options_, gallery_);
  const std::string picture = PictureBase64("face-small.jpg");
  EXPECT_EQ(401, Post(v2, FrsV2Mode::kVerify, V2VerifyBody("none", picture)).status);
  const std::string session = Login(v2, FrsV2Mode::kLogin);
  for (const std::string& options :
       {std::string(R"({"threshold":0.8,"hasReport":true})"), std::string(R"({"threshold":0.8})"),
        std::string(R"({"hasReport":1})"), std::string(R"("threshold=0.8")")}) {
    EXPECT_EQ(400, Post(v2, FrsV2Mode::kVerify, V2VerifyBody(session, picture, options)).status)
        << options;
  }
  std::string plain = V2VerifyBody(session, picture);
  plain.erase(plain.find("data:image/jpg;base64,"), 22);
  const ServiceAnswer answer = Post(v2, FrsV2Mode::kVerify, plain);
  EXPECT_EQ(400, answer.status);
  EXPECT_THAT(answer.problem, HasSubstr("data:image/jpg;base64,"));
  // The threshold travels inside "options", never at the top level.
  EXPECT_EQ(400, Post(v2, FrsV2Mode::kVerify,
                      R"({"sessionId":")" + session + R"(","threshold":0.8,"imageBase64":"x"})")
                     .status);

  EXPECT_EQ(400, Post(v2, FrsV2Mode::kLogout, "", "session=" + session).status);
  EXPECT_EQ(200, Post(v2, FrsV2Mode::kLogout, "", "sessionId=" + session).status);
  EXPECT_EQ(401, Post(v2, FrsV2Mode::kLogout, "", "sessionId=" + session).status);
  EXPECT_EQ(401, Post(v2, FrsV2Mode::kVerify, V2VerifyBody(session, picture)).status);
}

}  // namespace
}  // namespace facesim
