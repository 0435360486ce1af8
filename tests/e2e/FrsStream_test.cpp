// The FRS service as a real process, configured from DevInfo.xml's "VFRInfo" or from the
// remote set: identities arrive over the WebSocket result streams, an unknown visitor comes
// back on the non-recognised stream, and a result that is never pushed is given up after the
// 3 s expiry.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>

#include "tests/e2e/FaceSite.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

class FrsStreamTest : public ::testing::TestWithParam<FaceServiceSetup> {};

TEST_P(FrsStreamTest, PushedResultsIdentifyAndAMissingPushIsGivenUp) {
  FaceSite face(GetParam());
  ASSERT_NO_FATAL_FAILURE(face.Start());
  simtest::FaceSimProcess& service = face.Service();

  ASSERT_TRUE(face.Send(1, kVipPicture));
  ASSERT_TRUE(service.WaitForPrefix("push /fcsreconizedresult verify_face_id=", nullptr));
  ASSERT_TRUE(face.Send(2, kEmployeePicture));
  ASSERT_TRUE(service.WaitForPrefix("push /fcsreconizedresult verify_face_id=", nullptr));
  ASSERT_TRUE(face.Send(3, kVisitorPicture));
  ASSERT_TRUE(service.WaitForPrefix("push /fcsnonreconizedresult verify_face_id=", nullptr));

  const std::regex sixDecimals(R"(\d\.\d{6})");
  EXPECT_EQ(face.GroupOf(1), kGroupVip);
  const EventFile vip = face.Event(1);
  EXPECT_EQ(InfoOf(vip.xml, "PersonId"), kVipId);
  EXPECT_EQ(InfoOf(vip.xml, "PersonGroup"), "VIP");
  EXPECT_EQ(InfoOf(vip.xml, "PersonName"), kVipName);
  const std::string confidence = InfoOf(vip.xml, "Confidence");
  EXPECT_TRUE(std::regex_match(confidence, sixDecimals)) << confidence;
  EXPECT_GE(std::stod(confidence), kScore);

  EXPECT_EQ(face.GroupOf(2), kGroupEmployee);
  EXPECT_EQ(InfoOf(face.Event(2).xml, "PersonName"), kEmployeeName);

  EXPECT_EQ(face.GroupOf(3), kGroupNoMatch);
  const EventFile visitor = face.Event(3);
  EXPECT_EQ(InfoOf(visitor.xml, "PersonId"), "");
  EXPECT_EQ(InfoOf(visitor.xml, "Confidence"), "0.0");

  // No push for the next one: it waits out the expiry and is written with -3.
  ASSERT_TRUE(face.Arm("push none", "armed push none"));
  ASSERT_TRUE(face.Send(4, kVipPicture));
  ASSERT_TRUE(service.WaitForPrefix("request /frs/cgi/verifyface status=200", nullptr));
  const auto verified = Clock::now();
  ASSERT_TRUE(service.WaitForPrefix("push none verify_face_id=", nullptr));
  ASSERT_TRUE(face.WaitForEvent(4, 15000)) << face.site().Log();
  const double seconds = std::chrono::duration<double>(Clock::now() - verified).count();
  std::cout << GetParam().name << ": verify to the given-up event file: " << seconds << " s\n";
  const EventFile givenUp = face.Event(4);
  EXPECT_EQ(givenUp.Group(), kGroupNoAnswer);
  EXPECT_EQ(InfoOf(givenUp.xml, "PersonId"), "");
  // Given up by the expiry sweep, not at once.
  EXPECT_NE(face.site().Log().find(" -3, 4 @5===="), std::string::npos) << face.site().Log();

  EXPECT_TRUE(face.site().Vestrel().Running());
  EXPECT_EQ(face.site().StopVestrel(), 0);
  face.ExpectNothingLost();
}

// A result pushed twice completes its snapshot once; a pushed result that is not JSON, or that
// carries a verify id nobody asked for, leaves its snapshot to the expiry.
TEST(FrsPushFaultTest, DoubledGarbledAndStrayResultsGiveOneFileEach) {
  FaceSite face(kFrsRemote);
  ASSERT_NO_FATAL_FAILURE(face.Start());
  ASSERT_TRUE(face.Arm("push twice", "armed push twice"));
  ASSERT_TRUE(face.Arm("push garbage", "armed push garbage"));
  ASSERT_TRUE(face.Arm("push wrong-id", "armed push wrong-id"));
  ASSERT_TRUE(face.Send(1, kVipPicture));
  ASSERT_TRUE(face.Send(2, kEmployeePicture));
  ASSERT_TRUE(face.Send(3, kVipPicture));
  EXPECT_EQ(face.GroupOf(1), kGroupVip);
  EXPECT_EQ(face.GroupOf(2), kGroupNoAnswer);
  EXPECT_EQ(face.GroupOf(3), kGroupNoAnswer);
  EXPECT_EQ(CountOccurrences(face.Service().Output(), "push /fcsreconizedresult verify_face_id="),
            3);  // twice for the first, once (a stray id) for the third
  EXPECT_TRUE(face.site().Vestrel().Running());
  EXPECT_EQ(face.site().StopVestrel(), 0);
  face.ExpectNothingLost();
}

// The service holds both WebSocket upgrades back; a stop meanwhile still ends Vestrel
// cleanly, and the face verified without a stream is written.
TEST(FrsPushFaultTest, StopWhileTheStreamUpgradesAreHeldBack) {
  FaceSite face(kFrsRemote);
  for (const std::string stream : {"/fcsreconizedresult", "/fcsnonreconizedresult"}) {
    ASSERT_TRUE(face.Arm("next " + stream + " slow=30", "armed next " + stream + " slow=30"));
  }
  ASSERT_NO_FATAL_FAILURE(face.Start(false));
  ASSERT_TRUE(face.Service().WaitForPrefix("request /fcsreconizedresult held=", nullptr));
  ASSERT_TRUE(face.Send(1, kVipPicture));
  EXPECT_EQ(face.GroupOf(1), kGroupNoAnswer) << face.site().Log();
  EXPECT_EQ(face.site().StopVestrel(), 0) << face.site().Stderr();
  face.ExpectNothingLost();
  EXPECT_EQ(face.site().Stderr().find("Unhandled exception"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(FrsStream, FrsStreamTest,
                         ::testing::Values(kFrsDevInfo, kFrsRemote, kFrsTls),
                         SetupName);

}  // namespace
}  // namespace e2e
