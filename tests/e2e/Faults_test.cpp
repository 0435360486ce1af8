// Faults around a running Vestrel with a face service, all as real processes: a service that
// is down, answers garbage, errors, too slowly or not at all; a configuration change that
// ends the program while the service is slow; a camera that drops in the middle of a large
// picture or sends faster than the service answers; an event folder that disappears; a
// device list nested far too deep. Every accepted alarm must end as exactly one complete
// event file, and Vestrel keeps running or ends as intended, never by a crash.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "pipeline/JpegCodec.h"
#include "tests/e2e/FaceSite.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// One fault of the service and the group id that the face sent into it must carry.
struct ServiceFault {
  std::string name;
  // Script command; {path} stands for the request that carries the picture, {other} for the
  // other one that the client needs (the login; for FCS the person request after a match);
  // {streams} for the number of result streams open (2 for FRS, else none).
  std::string command;
  std::string acknowledgement;  // the line facesim prints when it is armed
  int groupFcs;
  int groupFrs;
  int groupFrsV2;
  std::string errorLine = "";  // the one ERROR line that the fault gives, when it names one
};

// An answer that tries to start a log line of its own.
const std::string kForgedLine = "2026-12-08 00:00:00.000 [1] ERROR Vestrel - FORGED";
const std::string kForgedBody = "{\"isMatch\":false}\\n" + kForgedLine;

const std::vector<ServiceFault> kServiceFaults = {
    {"garbage answer", "next {path} garbage", "armed next {path} garbage", -3, -3, -3},
    {"status 500", "next {path} status=500", "armed next {path} status=500", -3, -3, -3},
    {"answer after 7 s (read time-out 5 s)", "next {path} slow=7", "armed next {path} slow=7", -3,
     -3, -3},
    {"closed without an answer", "next {path} close", "armed next {path} close", -3, -3, -3},
    {"answer nested 100,000 deep", "next {path} deep", "armed next {path} deep", -3, -3, -3},
    {"answer padded to 5 MiB", "next {path} huge", "armed next {path} huge", -3, -3, -3},
    {"truncated answer", "next {path} truncated", "armed next {path} truncated", -3, -3, -3},
    {"other request answered 500", "next {other} status=500", "armed next {other} status=500", -1,
     -3, -2},
    {"other request answered garbage", "next {other} garbage", "armed next {other} garbage", -1, -3,
     -3},
    {"answer dripped a byte a second (10 s deadline)", "next {path} drip=1",
     "armed next {path} drip=1", -3, -3, -3},
    {"gzip body inflating to 1 GiB", "next {path} gzip-bomb", "armed next {path} gzip-bomb", -3,
     -3, -3},
    {"answer headers that never end", "next {path} headers", "armed next {path} headers", -3, -3,
     -3, "ERROR Face service request http://{service}{path} abandoned: the answer headers are "
         "larger than the limit of 65536 bytes"},
    {"answer padded with 50,000 empty objects", "next {path} wide=50000",
     "armed next {path} wide=50000", 1, 1, 1},
    {"answer with a forged log line", "next {path} body=" + kForgedBody, "armed next {path} body",
     -3, -3, -1},
    {"streams stop answering pings", "ws stall", "ws stall streams={streams}", 1, -3, 1},
    {"service down (refused)", "down 3", "down", -3, -3, -2},
};

std::string WithPaths(std::string text, FaceSite& face) {
  for (const auto& [placeholder, path] :
       {std::pair<std::string, std::string>{"{path}", face.PicturePath()},
        std::pair<std::string, std::string>{"{other}", face.OtherPath()},
        std::pair<std::string, std::string>{"{streams}", face.IsFrs() ? "2" : "0"},
        std::pair<std::string, std::string>{
            "{service}", face.Service().Ip() + ":" + std::to_string(face.Service().Port())}}) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder)) {
      text.replace(at, placeholder.size(), path);
    }
  }
  return text;
}

class ServiceFaultTest : public ::testing::TestWithParam<FaceServiceSetup> {};

// One Vestrel run goes through every fault in turn; before and after them a VIP is identified.
TEST_P(ServiceFaultTest, EveryFaultGivesOneEventFileAndVestrelKeepsRunning) {
  const FaceServiceSetup& setup = GetParam();
  FaceSite face(setup);
  ASSERT_NO_FATAL_FAILURE(face.Start());
  int id = 1;
  ASSERT_TRUE(face.Send(id, kVipPicture));
  ASSERT_EQ(face.GroupOf(id), kGroupVip) << face.site().Log();

  for (const ServiceFault& fault : kServiceFaults) {
    SCOPED_TRACE(fault.name);
    ASSERT_TRUE(face.Arm(WithPaths(fault.command, face), WithPaths(fault.acknowledgement, face)));
    ASSERT_TRUE(face.Send(++id, kVipPicture));
    const int group = face.GroupOf(id);
    const int expected = setup.type == 0   ? fault.groupFrs
                         : setup.type == 1 ? fault.groupFcs
                                           : fault.groupFrsV2;
    EXPECT_EQ(group, expected) << face.site().Log();
    // FCS keeps the accepted candidate when only the person request failed.
    const bool candidateKept = setup.type == 1 && expected == kGroupNoMatch;
    EXPECT_EQ(InfoOf(face.Event(id).xml, "PersonId"),
              candidateKept || expected == kGroupVip ? kVipId : "");
    if (!fault.errorLine.empty()) {
      EXPECT_EQ(CountOccurrences(face.site().Log(), WithPaths(fault.errorLine, face)), 1)
          << face.site().Log();
    }
    EXPECT_TRUE(face.site().Vestrel().Running());
    std::cout << "| " << setup.name << " | " << fault.name << " | event written, GroupId " << group
              << ", still running |\n";
  }

  // The service is down for a few seconds more, and with it FRS's streams and their gauge.
  if (face.IsFrs()) {
    EXPECT_EQ(face.StreamsConnected(), 0) << face.site().Log();
  }
  // Back: the service answers again (FRS reopens its streams at the next 15 s tick).
  ASSERT_TRUE(face.Service().WaitForLine("up", std::chrono::seconds(10)));
  if (face.IsFrs()) {
    ASSERT_TRUE(face.WaitForStreams(2));
    EXPECT_TRUE(WaitFor([&] { return face.StreamsConnected() == 2; }, 5000));
  }
  ASSERT_TRUE(face.Send(++id, kEmployeePicture));
  EXPECT_EQ(face.GroupOf(id), kGroupEmployee) << face.site().Log();
  EXPECT_EQ(face.site().StopVestrel(), 0) << face.site().Stderr();
  const auto [written, accepted] = face.ExpectNothingLost();
  EXPECT_EQ(accepted, static_cast<std::size_t>(id));
  std::cout << "| " << setup.name << " | all faults, then back | written " << written << " of "
            << accepted << " accepted, exit 0 |\n";
  EXPECT_EQ(face.site().Stderr().find("Unhandled exception"), std::string::npos);
  EXPECT_EQ(face.site().Log().find("\n" + kForgedLine), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Faults, ServiceFaultTest,
                         ::testing::Values(kFcs, kFrsRemote, kFrsV2, kFrsWorkers4, kFrsV2Workers4),
                         SetupName);

class ChangeWhileSlowTest : public ::testing::TestWithParam<FaceServiceSetup> {};

// A touch of EdgeAiCfg.xml ends Vestrel with status 255 while the worker waits for a slow
// answer and more snapshots are queued: all of them are written before it ends.
TEST_P(ChangeWhileSlowTest, WatchedChangeEndsVestrelAndEveryAcceptedAlarmHasItsFile) {
  FaceSite face(GetParam());
  ASSERT_NO_FATAL_FAILURE(face.Start());
  ASSERT_TRUE(face.site().WaitForLog("Watched file changed: " + face.EdgeFile(), kLoginMs))
      << face.site().Log();
  const std::string path = face.PicturePath();
  ASSERT_TRUE(face.Arm("next " + path + " slow=4", "armed next " + path + " slow=4"));
  for (int id = 1; id <= 4; ++id) ASSERT_TRUE(face.Send(id, kVipPicture));
  ASSERT_TRUE(face.Service().WaitForPrefix("request " + path + " held=", nullptr));
  ASSERT_TRUE(face.WaitForIntake(4)) << face.site().Log();
  fs::last_write_time(face.EdgeFile(), fs::file_time_type::clock::now());
  ASSERT_TRUE(face.site().Vestrel().Wait(20000)) << face.site().Log();
  EXPECT_EQ(face.site().Vestrel().ExitStatus(), 255);
  EXPECT_EQ(CountOccurrences(face.site().Log(), "EgdeAiCfg.xml changed..."), 1);
  EXPECT_NE(face.site().Log().find("Stop reason: configuration change of " + face.EdgeFile() +
                                   "\n"),
            std::string::npos);
  const auto [written, accepted] = face.ExpectNothingLost();
  EXPECT_EQ(accepted, 4u);
  std::cout << "| " << GetParam().name << " | EdgeAiCfg.xml touched while slow | exit 255, written "
            << written << " of " << accepted << " accepted |\n";
  EXPECT_EQ(face.site().Stderr().find("Unhandled exception"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Faults, ChangeWhileSlowTest,
                         ::testing::Values(kFcs, kFrsRemote, kFcsWorkers4), SetupName);

// A noisy picture whose JPEG is between 6 and 8 MiB (the wire's limit for one picture).
std::string MakeLargeJpeg(const TempDir& dir) {
  const int width = 3200;
  const int height = 3200;
  std::vector<uint8_t> block(static_cast<std::size_t>(width) * height * 3);
  std::mt19937 rng(7);
  for (auto& sample : block) sample = static_cast<uint8_t>(rng());
  const std::string path = dir.File("large-noise.jpg");
  std::string error;
  EXPECT_TRUE(EncodeJpegFile(path, block.data(), height, width, &error)) << error;
  return path;
}

// The camera drops its connections right after it began sending a 6 MiB picture: no crash,
// the other camera's faces flow on at once, and the dropped camera's faces flow again once
// Vestrel has logged in again (the real 15 s online-check period).
TEST(CameraFaultTest, DropInTheMiddleOfALargePictureLosesNothingAccepted) {
  FaceSite face(kFcs, 2);
  const std::string large = MakeLargeJpeg(face.site().Root());
  const auto size = fs::file_size(large);
  ASSERT_GE(size, 6u * 1024 * 1024);
  ASSERT_LE(size, 8u * 1024 * 1024);
  ASSERT_NO_FATAL_FAILURE(face.Start());
  ASSERT_TRUE(face.Send(1, kVipPicture, 0));
  ASSERT_TRUE(face.Send(2, kEmployeePicture, 1));
  ASSERT_TRUE(face.WaitForEvent(2));

  ASSERT_TRUE(face.camera(0).Send("face id=3 jpeg=" + large));
  ASSERT_TRUE(face.camera(0).Send("offline 3"));
  // A sanitizer build of the camera takes seconds to push the large picture before it drops.
  ASSERT_TRUE(face.camera(0).WaitForOutput("offline", 30000)) << face.camera(0).Output();
  ASSERT_TRUE(face.Send(4, kEmployeePicture, 1));
  EXPECT_EQ(face.GroupOf(4), kGroupEmployee) << face.site().Log();

  ASSERT_TRUE(face.camera(0).WaitForOutput("channel open", 75000, 2))
      << face.camera(0).Output() << face.site().Stderr();
  ASSERT_TRUE(face.Send(5, kVipPicture, 0));
  EXPECT_EQ(face.GroupOf(5), kGroupVip) << face.site().Log();
  EXPECT_TRUE(face.site().Vestrel().Running());
  EXPECT_EQ(face.site().StopVestrel(), 0) << face.site().Stderr();

  // The large picture may or may not have got through before the drop; if it did, it has one
  // complete file like any other.
  const auto events = face.EventsByFaceId();
  const std::size_t largeFiles = events.count(3) ? events.at(3).size() : 0;
  EXPECT_LE(largeFiles, 1u);
  if (largeFiles == 1) {
    EXPECT_TRUE(events.at(3).front().Complete());
  }
  const auto [written, accepted] = face.ExpectNothingLost({3});
  std::cout << "| Fcs | camera dropped during a " << size << "-byte picture | "
            << (largeFiles ? "large picture written" : "large picture not received")
            << ", next faces flow; written " << written << " of " << accepted
            << " other accepted |\n";
  EXPECT_EQ(face.site().Stderr().find("Unhandled exception"), std::string::npos);
}

// Alarms come faster than the service answers: they queue up and are all written, identified.
TEST(CameraFaultTest, AlarmsFasterThanTheServiceAnswersAreAllWritten) {
  FaceSite face(kFrsV2);
  ASSERT_NO_FATAL_FAILURE(face.Start());
  const std::string path = face.PicturePath();
  constexpr int kSlow = 10;
  constexpr int kFaces = 16;
  for (int i = 0; i < kSlow; ++i) {
    ASSERT_TRUE(face.Arm("next " + path + " slow=0.8", "armed next " + path + " slow=0.8"));
  }
  for (int id = 1; id <= kFaces; ++id) {
    ASSERT_TRUE(face.Send(id, id % 2 ? kVipPicture : kEmployeePicture));
  }
  ASSERT_TRUE(face.WaitForAllAccepted(60000)) << face.site().Log();
  for (int id = 1; id <= kFaces; ++id) {
    EXPECT_EQ(face.Event(id).Group(), id % 2 ? kGroupVip : kGroupEmployee) << id;
  }
  EXPECT_TRUE(face.site().Vestrel().Running());
  EXPECT_EQ(face.site().StopVestrel(), 0);
  const auto [written, accepted] = face.ExpectNothingLost();
  EXPECT_EQ(accepted, static_cast<std::size_t>(kFaces));
  std::cout << "| FrsV2 | " << kFaces << " alarms at once, " << kSlow
            << " answers 0.8 s late | all identified; written " << written << " of " << accepted
            << " accepted |\n";
}

// The event folder is removed while Vestrel runs: the next event recreates it. Then a plain
// file takes the folder's place: events wait in the spool and are published once the file is
// gone.
TEST(EventFolderFaultTest, RemovedFolderIsRecreatedAndABlockedOneIsWrittenLater) {
  FaceSite face(kFcs);
  ASSERT_NO_FATAL_FAILURE(face.Start());
  ASSERT_TRUE(face.Send(1, kVipPicture));
  ASSERT_TRUE(face.WaitForEvent(1));
  const std::string folder = face.site().EventsDir();
  fs::remove_all(folder);
  ASSERT_TRUE(face.Send(2, kEmployeePicture));
  EXPECT_EQ(face.GroupOf(2), kGroupEmployee) << face.site().Log();

  fs::remove_all(folder);
  const std::string blocker = folder.substr(0, folder.size() - 1);  // without the '/'
  face.site().Root().Write("events", "not a folder");
  ASSERT_TRUE(face.Send(3, kVipPicture));
  ASSERT_TRUE(face.site().WaitForLog("event files wait in the spool to be published", kEventMs))
      << face.site().Log();
  ASSERT_TRUE(face.Send(4, kEmployeePicture));
  ASSERT_TRUE(face.site().WaitForLog("Process face snapshot: id(4), ", kEventMs))
      << face.site().Log();
  EXPECT_TRUE(face.EventsByFaceId().empty());
  fs::remove(blocker);
  ASSERT_TRUE(face.WaitForEvent(4, 30000)) << face.site().Log();
  EXPECT_EQ(face.GroupOf(3), kGroupVip);
  EXPECT_TRUE(face.site().Vestrel().Running());
  EXPECT_EQ(face.site().StopVestrel(), 0);
  EXPECT_NE(face.site().Log().find("Event files can be written again; 2 waiting event files "
                                   "were published"),
            std::string::npos);
  // 1 and 2 went with the folders that the test removed.
  const auto [written, accepted] = face.ExpectNothingLost({1, 2});
  std::cout << "| Fcs | event folder removed, then blocked by a file | recreated, spool "
               "retried; written "
            << written + 2 << " of " << accepted + 2 << " accepted |\n";
}

// A configuration file nested 100,000 levels deep is refused before the parser: the device
// list gives exit status 255 with an ERROR line that names the file, and no crash.
TEST(ConfigurationFaultTest, DeviceListNestedTooDeepEndsVestrelWithoutACrash) {
  Site site;
  std::string deep;
  deep.reserve(100000 * 7 + 100);
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  const std::string devInfo = site.Root().Write("bin/DevInfo.xml", deep);
  site.WriteSettings();
  ASSERT_TRUE(site.StartVestrel());
  ASSERT_TRUE(site.Vestrel().Wait(15000));
  EXPECT_EQ(site.Vestrel().ExitStatus(), 255);
  EXPECT_FALSE(site.Vestrel().EndedBySignal());
  EXPECT_EQ(site.Stderr().find("[tq] Unhandled exception"), std::string::npos) << site.Stderr();
  const std::string log = site.Log();
  const std::size_t at = log.find(" ERROR ");
  ASSERT_NE(at, std::string::npos) << log;
  const std::string line = log.substr(at, log.find('\n', at) - at);
  EXPECT_NE(line.find(devInfo), std::string::npos) << line;
  EXPECT_EQ(log.find("Initializing @2..."), std::string::npos);
  std::cout << "| none | DevInfo.xml nested 100,000 deep | exit 255, " << line << " |\n";
}

// The face-service file nested too deep: no face service, Vestrel runs on and writes events
// with the intake's values.
TEST(ConfigurationFaultTest, FaceServiceFileNestedTooDeepLeavesVestrelRunningWithoutService) {
  FaceSite face(kFcs);
  face.WriteConfiguration();
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  face.site().Root().Write("cfg/EdgeAiCfg.xml", deep);
  ASSERT_TRUE(face.site().StartVestrel());
  ASSERT_TRUE(face.camera().WaitForOutput("channel open", kLoginMs)) << face.site().Log();
  ASSERT_TRUE(face.Send(1, kVipPicture));
  EXPECT_EQ(face.GroupOf(1), kGroupIntake);
  EXPECT_NE(face.site().Log().find(face.EdgeFile()), std::string::npos);
  EXPECT_EQ(CountOccurrences(face.Service().Output(), "request "), 0);
  EXPECT_EQ(face.site().StopVestrel(), 0);
  EXPECT_EQ(face.site().Stderr().find("[tq] Unhandled exception"), std::string::npos);
  face.ExpectNothingLost();
}

}  // namespace
}  // namespace e2e
