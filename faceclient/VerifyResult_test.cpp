#include "faceclient/VerifyResult.h"

#include <gtest/gtest.h>

#include <memory>

#include "records/FaceSnapshot.h"
#include "support/TextHelpers.h"

namespace {

std::string Recognized(const std::string& groups, const std::string& extra = "") {
  return R"({"verify_face_id":"v1","person_id":"p1","score":0.87,)" + extra +
         R"("person_info":{"fullname":"Ann Lee","group_list":[)" + groups + "]}}";
}

VerifyResult DecodeOk(const std::string& payload) {
  VerifyResult result;
  EXPECT_TRUE(DecodeRecognizedMessage(payload, &result)) << payload;
  return result;
}

TEST(RecognizedMessage, CarriesPersonScoreAndName) {
  const VerifyResult r = DecodeOk(Recognized(R"({"groupname":"VIP"})"));
  EXPECT_EQ(r.verifyId, "v1");
  EXPECT_EQ(r.personId, "p1");
  EXPECT_EQ(r.groupId, kGroupVip);
  EXPECT_EQ(r.groupName, "VIP");
  EXPECT_EQ(r.personName, "Ann Lee");
  EXPECT_EQ(r.confidence, "0.870000");
}

TEST(RecognizedMessage, TheGroupWalkKeepsTheLastNameAndBlacklistWins) {
  struct Case {
    std::string groups;
    int32_t code;
    std::string name;
  };
  const Case cases[] = {
      {R"({"groupname":"VIP"},{"groupname":"Employee"})", kGroupEmployee, "Employee"},
      {R"({"groupname":"Employee"},{"groupname":"VIP"})", kGroupVip, "VIP"},
      {R"({"groupname":"VIP"},{"groupname":"Blacklist"},{"groupname":"Employee"})",
       kGroupBlacklist, "Blacklist"},
      {R"({"groupname":"VIP"},{"groupname":"Regulars"})", kGroupVip, "Regulars"},
      {R"({"groupname":"blacklist"})", kGroupNotIdentified, "blacklist"},
      {"", kGroupNotIdentified, ""},
      {R"("VIP",{"name":"VIP"},{"GROUPNAME":"Employee"})", kGroupEmployee, "Employee"},
  };
  for (const Case& c : cases) {
    const VerifyResult r = DecodeOk(Recognized(c.groups));
    EXPECT_EQ(r.groupId, c.code) << c.groups;
    EXPECT_EQ(r.groupName, c.name) << c.groups;
  }
}

TEST(RecognizedMessage, MemberNamesIgnoreCaseButValuesKeepTheirType) {
  VerifyResult r = DecodeOk(
      R"({"VERIFY_FACE_ID":"v2","Person_Id":"p","SCORE":1,"Person_Info":{"FullName":"x",)"
      R"("Group_List":[]}})");
  EXPECT_EQ(r.verifyId, "v2");
  EXPECT_EQ(r.confidence, "1.000000");
  VerifyResult untouched;
  EXPECT_FALSE(DecodeRecognizedMessage(
      R"({"verify_face_id":7,"person_id":"p","score":1,"person_info":{"fullname":"x","group_list":[]}})",
      &untouched));
  EXPECT_FALSE(DecodeRecognizedMessage(
      R"({"verify_face_id":"v","score":1,"person_info":{"fullname":"x","group_list":[]}})",
      &untouched));
}

TEST(RecognizedMessage, MissingMembersOrBadJsonGiveNoResult) {
  VerifyResult r;
  const std::string bad[] = {
      "", "not json", "[]", R"({"verify_face_id":"v"})",
      R"({"verify_face_id":"v","person_id":"p","score":1,"person_info":{"group_list":[]}})",
      R"({"verify_face_id":"v","person_id":"p","score":1,"person_info":{"fullname":"x"}})",
      R"({"verify_face_id":"v","person_id":"p","person_info":{"fullname":"x","group_list":[]}})",
      R"({"verify_face_id":"v","person_id":"p","score":"high","person_info":{"fullname":"x","group_list":[]}})",
      std::string(100000, '[')};
  for (const std::string& payload : bad) {
    EXPECT_FALSE(DecodeRecognizedMessage(payload, &r)) << payload.substr(0, 40);
  }
}

TEST(RecognizedMessage, TheNameIsConvertedFromUtf8) {
  const VerifyResult r = DecodeOk(
      R"({"verify_face_id":"v","person_id":"p","score":0.5,"person_info":{"fullname":"J\u00fcrg","group_list":[]}})");
  std::unique_ptr<char[]> expected(Utf8ToAnsi("J\xC3\xBCrg"));
  EXPECT_EQ(r.personName, expected.get());
}

TEST(UnrecognizedMessage, GivesNoMatchWithoutPerson) {
  VerifyResult r;
  ASSERT_TRUE(DecodeUnrecognizedMessage(
      R"({"Verify_Face_Id":"v9","highest_score":{"fullname":"Someone","score":0.3}})", &r));
  EXPECT_EQ(r.verifyId, "v9");
  EXPECT_EQ(r.groupId, kGroupNoMatch);
  EXPECT_EQ(r.confidence, "0.0");
  EXPECT_EQ(r.personId, "");
  EXPECT_EQ(r.personName, "");
  EXPECT_EQ(r.groupName, "");
}

TEST(UnrecognizedMessage, NeedsTheHighestScoreWithAName) {
  VerifyResult r;
  EXPECT_FALSE(DecodeUnrecognizedMessage(R"({"verify_face_id":"v"})", &r));
  EXPECT_FALSE(DecodeUnrecognizedMessage(R"({"verify_face_id":"v","highest_score":{}})", &r));
  EXPECT_FALSE(DecodeUnrecognizedMessage(R"({"highest_score":{"fullname":"x"}})", &r));
  EXPECT_FALSE(DecodeUnrecognizedMessage("garbage", &r));
  EXPECT_TRUE(DecodeUnrecognizedMessage(R"({"verify_face_id":"","highest_score":{"fullname":""}})",
                                        &r));
}

}  // namespace
