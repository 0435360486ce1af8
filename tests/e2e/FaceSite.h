// End-to-end harness for a site with a face service: a Vestrel site (E2eSite.h), simulated
// cameras and one vestrel-facesim process with enrolled visitors, configured either by the
// "VFRInfo" element of DevInfo.xml (FRS) or by the remote set (Remote.xml and EdgeAiCfg.xml
// beside it, any service type). It also counts what the cameras got out to an alarm channel
// and what became event files, so that a test can check that nothing was lost or doubled.
// One test thread drives it; every wait is bounded, and every process it started is stopped
// by its PID when the object goes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/E2eSite.h"
#include "tests/support/FaceSimProcess.h"
#include "tests/support/RawHttp.h"

namespace e2e {

// Group id codes as the event files carry them.
constexpr int kGroupIntake = -2;
constexpr int kGroupNoAnswer = -3;
constexpr int kGroupNoMatch = -1;
constexpr int kGroupVip = 1;
constexpr int kGroupEmployee = 3;

// Which service a site uses and where its configuration comes from.
struct FaceServiceSetup {
  const char* name;  // for parameterised test names
  const char* mode;  // vestrel-facesim's --mode
  int type;          // ModeInfo type of EdgeAiCfg.xml (0 FRS, 1 FCS, 2 FRS v2)
  bool fromDevInfo;  // FRS from DevInfo.xml's "VFRInfo" instead of the remote set
  int workers = 0;   // FaceServiceWorkers in Config.ini; 0 leaves the key out (one worker)
  bool tls = false;  // HTTPS (and wss for FRS), checked against a certificate made for the test
  // The face-client workers that Vestrel runs.
  int Workers() const { return workers > 0 ? workers : 1; }
};

const FaceServiceSetup kFrsDevInfo{"FrsFromDevInfo", "frs", 0, true};
const FaceServiceSetup kFrsRemote{"FrsFromEdgeAiCfg", "frs", 0, false};
const FaceServiceSetup kFcs{"Fcs", "fcs", 1, false};
const FaceServiceSetup kFrsV2{"FrsV2", "frsv2", 2, false};
const FaceServiceSetup kFrsWorkers4{"FrsWorkers4", "frs", 0, false, 4};
const FaceServiceSetup kFcsWorkers4{"FcsWorkers4", "fcs", 1, false, 4};
const FaceServiceSetup kFrsV2Workers4{"FrsV2Workers4", "frsv2", 2, false, 4};
const FaceServiceSetup kFrsTls{"FrsOverTls", "frs", 0, false, 0, true};
const FaceServiceSetup kFcsTls{"FcsOverTls", "fcs", 1, false, 0, true};

inline void PrintTo(const FaceServiceSetup& setup, std::ostream* out) { *out << setup.name; }

inline std::string SetupName(const ::testing::TestParamInfo<FaceServiceSetup>& info) {
  return info.param.name;
}

// The enrolled visitors and the pictures of the tests.
const std::string kVipPicture = "face-640x480.jpg";
const std::string kEmployeePicture = "face-camera-640x480.jpg";
const std::string kVisitorPicture = "face-chelsea-640x480.jpg";  // enrolled nowhere
const std::string kVipId = "p-vip-1";
const std::string kVipName = "Vera Vip";
const std::string kEmployeeId = "p-emp-2";
const std::string kEmployeeName = "Emil Worker";
constexpr double kScore = 0.8;  // the match threshold of the configuration

constexpr int kLoginMs = 15000;   // first login and alarm channel
constexpr int kStreamMs = 25000;  // an FRS stream opens at once, or within one 15 s period
constexpr int kEventMs = 15000;   // an alarm to its event file, service time-outs included

inline std::string FacePath(const std::string& picture) {
  return std::string(VESTREL_TEST_DATA_DIR) + "/" + picture;
}

inline std::string FaceCommand(int id, const std::string& picture) {
  return "face id=" + std::to_string(id) + " jpeg=" + FacePath(picture);
}

// One event file, read back.
struct EventFile {
  std::string path;
  std::string xml;
  bool Complete() const {
    static const std::string kEnd = "</POSEvent>\r\n";
    return xml.size() >= kEnd.size() &&
           xml.compare(xml.size() - kEnd.size(), kEnd.size(), kEnd) == 0;
  }
  int Group() const { return std::stoi(InfoOf(xml, "GroupId")); }
};

// The face ids that a camera got out to at least one alarm channel: its "sent face id=N"
// lines less its "face id=N reached no alarm channel" lines.
inline std::multiset<int> AcceptedFaceIds(const std::string& camsimOutput) {
  std::multiset<int> sent;
  std::istringstream lines(camsimOutput);
  std::string line;
  const std::string sentPrefix = "sent face id=";
  const std::string noChannelPrefix = "face id=";
  const std::string noChannelSuffix = " reached no alarm channel";
  while (std::getline(lines, line)) {
    if (line.rfind(sentPrefix, 0) == 0) {
      sent.insert(std::stoi(line.substr(sentPrefix.size())));
    } else if (line.rfind(noChannelPrefix, 0) == 0 && line.size() > noChannelSuffix.size() &&
               line.compare(line.size() - noChannelSuffix.size(), noChannelSuffix.size(),
                            noChannelSuffix) == 0) {
      auto it = sent.find(std::stoi(line.substr(noChannelPrefix.size())));
      if (it != sent.end()) sent.erase(it);
    }
  }
  return sent;
}

class FaceSite {
 public:
  // people: lines of the enrolment file (see simtest::WritePeople); empty gives the VIP and
  // the Employee of the tests.
  explicit FaceSite(const FaceServiceSetup& setup, int cameras = 1,
                    std::vector<std::string> people = {})
      : setup_(setup) {
    if (people.empty()) {
      people = {kVipPicture + " person=" + kVipId + " name=\"" + kVipName + "\" groups=VIP",
                kEmployeePicture + " person=" + kEmployeeId + " name=\"" + kEmployeeName +
                    "\" groups=Employee"};
    }
    const std::string peopleFile = simtest::WritePeople(site_.Root(), people);
    std::vector<std::string> arguments{"--user",       "frsuser", "--password", "frspw",
                                       "--account",    "acc-1",   "--access-key", "key-1",
                                       "--people",     peopleFile};
    const std::string ip = UniqueLoopbackIp();
    if (setup.tls) {
      EXPECT_TRUE(simtest::MakeTestCertificate(site_.Root(), "service", ip));
      arguments.insert(arguments.end(), {"--tls", site_.Root() / "service.pem",
                                         site_.Root() / "service.key"});
    }
    service_ = std::make_unique<simtest::FaceSimProcess>(setup.mode, arguments, ip);
    EXPECT_TRUE(service_->Started()) << service_->Errors();
    for (int i = 0; i < cameras; ++i) cameras_.push_back(std::make_unique<Camera>());
  }
  ~FaceSite() { site_.StopVestrel(); }
  FaceSite(const FaceSite&) = delete;
  FaceSite& operator=(const FaceSite&) = delete;

  Site& site() { return site_; }
  simtest::FaceSimProcess& Service() { return *service_; }
  Camera& camera(int i = 0) { return *cameras_.at(i); }
  bool IsFrs() const { return setup_.type == 0; }
  int Workers() const { return setup_.Workers(); }
  // The request that carries the picture, the one whose faults the tests arm.
  std::string PicturePath() const {
    return setup_.type == 0   ? "/frs/cgi/verifyface"
           : setup_.type == 1 ? "/api/fcs/person/whois"
                              : "/frengine/verify-face";
  }
  // The other request of each client: the login, or for FCS the person request after a match.
  std::string OtherPath() const {
    return setup_.type == 0   ? "/users/login"
           : setup_.type == 1 ? "/api/fcs/person/info"
                              : "/user/web/login";
  }
  std::string EdgeFile() const { return site_.Root().File("cfg/EdgeAiCfg.xml"); }

  // Writes the configuration; camera i gets POS id 1001 + i.
  void WriteConfiguration() {
    const std::string ip = service_->Ip();
    const std::string port = std::to_string(service_->Port());
    if (setup_.fromDevInfo) {
      std::string xml = "<DevInfo>\n  <DeviceList>\n";
      for (std::size_t i = 0; i < cameras_.size(); ++i) {
        const Camera& c = *cameras_[i];
        xml += "    <Device ip=\"" + c.Ip() + "\" port=\"" + std::to_string(c.Port()) +
               "\" username=\"" + c.User() + "\" password=\"" + c.Password() + "\" POSID=\"" +
               std::to_string(1001 + i) + "\"/>\n";
      }
      xml += "  </DeviceList>\n  <VFRInfo ip=\"" + ip + "\" port=\"" + port + "\"" + FrsAccount() +
             "/>\n</DevInfo>\n";
      site_.Root().Write("bin/DevInfo.xml", xml);
      site_.WriteSettings(WorkersLine());
      return;
    }
    std::string remote = "<Cfg>\n  <NVR_PRTY>\n";
    std::string units;
    for (std::size_t i = 0; i < cameras_.size(); ++i) {
      const Camera& c = *cameras_[i];
      const std::string nvr = "n" + std::to_string(i);
      remote += "    <NVR IP=\"" + c.Ip() + "\" Port=\"" + std::to_string(c.Port()) + "\" ID=\"" +
                nvr + "\" UserName=\"" + c.User() + "\" Password=\"" + c.Password() + "\"/>\n";
      units +=
          "    <PosUnit ID=\"" + std::to_string(1001 + i) + "\" NVRID=\"" + nvr + "\" Ch=\"1\"/>\n";
    }
    remote += "  </NVR_PRTY>\n  <POSUNITS_PRTY><PosUnitsDefinition>\n" + units +
              "  </PosUnitsDefinition></POSUNITS_PRTY>\n</Cfg>\n";
    const std::string remotePath = site_.Root().Write("cfg/Remote.xml", remote);
    std::string edge = "<EdgeAi>\n  <ModeInfo type=\"" + std::to_string(setup_.type) + "\"/>\n";
    if (setup_.type == 1) {
      edge += "  <FcsList><FcsInfo ip=\"" + ip + "\" port=\"" + port +
              "\" accountid=\"acc-1\" accesskey=\"key-1\" score=\"0.8\"" + TlsAttributes() +
              "/></FcsList>\n";
    } else {
      edge += "  <FrsList><FrsInfo ip=\"" + ip + "\" port=\"" + port + "\"" + FrsAccount() +
              TlsAttributes() + "/></FrsList>\n";
    }
    site_.Root().Write("cfg/EdgeAiCfg.xml", edge + "</EdgeAi>\n");
    site_.WriteSettings("RemoteDevCfg=" + remotePath + "\n" + WorkersLine());
  }

  // Writes the configuration, starts Vestrel and waits until every camera has an alarm
  // channel open and, for FRS, both result streams are open (unless the service is down).
  void Start(bool waitForStreams = true) {
    WriteConfiguration();
    ASSERT_TRUE(site_.StartVestrel());
    for (auto& c : cameras_) {
      ASSERT_TRUE(c->WaitForOutput("channel open", kLoginMs)) << c->Output() << site_.Stderr();
    }
    if (IsFrs() && waitForStreams) {
      ASSERT_TRUE(WaitForStreams(1));
    }
  }
  // Waits until each FRS result stream has been opened count times in all.
  bool WaitForStreams(int count, int timeoutMs = kStreamMs) {
    const bool open = WaitFor(
        [&] {
          const std::string out = service_->Output();
          return CountOccurrences(out, "ws open /fcsreconizedresult") >= count &&
                 CountOccurrences(out, "ws open /fcsnonreconizedresult") >= count;
        },
        timeoutMs);
    EXPECT_TRUE(open) << service_->Output() << site_.Log();
    return open;
  }

  // The sum of the streams' vestrel_face_stream_connected gauges on /metrics; -1 when the
  // metrics cannot be read or have no stream.
  double StreamsConnected() const {
    const std::string started = "Metrics listener on 127.0.0.1:";
    const std::string log = site_.Log();
    const std::size_t at = log.find(started);
    if (at == std::string::npos) return -1;
    const std::string text =
        rawhttp::Exchange(std::stoi(log.substr(at + started.size())), rawhttp::Get("/metrics"));
    if (text.rfind("HTTP/1.1 200", 0) != 0) return -1;
    double sum = -1;
    const std::string series = "\nvestrel_face_stream_connected{";
    for (std::size_t line = text.find(series); line != std::string::npos;
         line = text.find(series, line + 1)) {
      sum = std::max(sum, 0.0) + std::stod(text.substr(text.find("} ", line) + 2));
    }
    return sum;
  }

  // Sends a face from camera i and waits for the camera's "sent face id=N" line.
  bool Send(int id, const std::string& picture, int cameraIndex = 0) {
    Camera& c = camera(cameraIndex);
    return c.Send(FaceCommand(id, picture)) &&
           c.WaitForOutput("sent face id=" + std::to_string(id) + "\n", 5000);
  }
  // Arms a fault or command on the service and waits for its acknowledgement line.
  bool Arm(const std::string& command, const std::string& acknowledgement) {
    const bool armed = service_->Arm(command, acknowledgement);
    EXPECT_TRUE(armed) << command << "\n" << service_->Output() << service_->Errors();
    return armed;
  }

  // Waits until the intake has handed the face to the face client. An alarm still on its way
  // (on the wire, or received but not yet delivered by the SDK) when the alarm channel closes
  // at a stop never reaches the intake; tests that stop Vestrel wait for this first.
  bool WaitForIntake(int id, int timeoutMs = kEventMs) const {
    return site_.WaitForLog("Process face snapshot: id(" + std::to_string(id) + ") @1\n",
                            timeoutMs);
  }

  // The event files by face id (face ids are unique within a test).
  std::map<int, std::vector<EventFile>> EventsByFaceId() const {
    std::map<int, std::vector<EventFile>> events;
    for (const std::string& path : site_.EventFiles()) {
      EventFile file{path, ReadFileBytes(path)};
      const std::string id = InfoOf(file.xml, "FaceID");
      events[id.empty() ? -1000000 : std::stoi(id)].push_back(std::move(file));
    }
    return events;
  }
  // Waits for the event file of the face id; false when none came within the bound.
  bool WaitForEvent(int id, int timeoutMs = kEventMs) const {
    return WaitFor([&] { return EventsByFaceId().count(id) > 0; }, timeoutMs);
  }
  // The one event file of the face id (a test failure when there is not exactly one).
  EventFile Event(int id) const {
    const auto events = EventsByFaceId();
    auto it = events.find(id);
    if (it == events.end() || it->second.size() != 1) {
      ADD_FAILURE() << "face " << id << ": " << (it == events.end() ? 0 : it->second.size())
                    << " event files\n"
                    << site_.Log();
      return {};
    }
    return it->second.front();
  }
  // Waits for the face's event file and returns its group id (-1000 when none came).
  int GroupOf(int id, int timeoutMs = kEventMs) const {
    if (!WaitForEvent(id, timeoutMs)) {
      ADD_FAILURE() << "no event file for face " << id << "\n" << site_.Log();
      return -1000;
    }
    return Event(id).Group();
  }

  // Every face id that the cameras got out to an alarm channel (except those in left out),
  // and nothing else, has exactly one complete event file. Returns {written, accepted}.
  std::pair<std::size_t, std::size_t> ExpectNothingLost(const std::set<int>& leftOut = {}) {
    std::multiset<int> accepted;
    for (auto& c : cameras_) {
      for (int id : AcceptedFaceIds(c->Output())) {
        if (leftOut.count(id) == 0) accepted.insert(id);
      }
    }
    std::size_t written = 0;
    for (const auto& [id, files] : EventsByFaceId()) {
      if (leftOut.count(id) != 0) continue;
      written += files.size();
      EXPECT_EQ(accepted.count(id), 1u) << "face " << id << " was not sent once";
      EXPECT_EQ(files.size(), 1u) << "face " << id << " has " << files.size() << " event files";
      for (const EventFile& file : files) EXPECT_TRUE(file.Complete()) << file.path;
    }
    for (int id : accepted) {
      EXPECT_EQ(EventsByFaceId().count(id), 1u) << "face " << id << " has no event file";
    }
    EXPECT_EQ(written, accepted.size()) << site_.Log();
    for (const std::string& name : site_.AllEventFolderEntries()) {
      EXPECT_NE(name.front(), '.') << "work file left behind: " << name;
    }
    return {written, accepted.size()};
  }
  // Waits until every face the cameras got out has an event file.
  bool WaitForAllAccepted(int timeoutMs) {
    return WaitFor(
        [&] {
          const auto events = EventsByFaceId();
          for (auto& c : cameras_) {
            for (int id : AcceptedFaceIds(c->Output())) {
              if (events.count(id) == 0) return false;
            }
          }
          return true;
        },
        timeoutMs);
  }

 private:
  std::string WorkersLine() const {
    return "MetricsListen=127.0.0.1:0\n" +
           (setup_.workers > 0 ? "FaceServiceWorkers=" + std::to_string(setup_.workers) + "\n"
                               : std::string());
  }
  static std::string FrsAccount() {
    return " username=\"frsuser\" password=\"frspw\" score=\"0.8\" client=\"e2e\" enable=\"1\" "
           "source=\"door-cam\" location=\"entrance\"";
  }
  std::string TlsAttributes() const {
    return setup_.tls ? " tls=\"1\" cafile=\"" + site_.Root() / "service.pem" + "\"" : "";
  }

  const FaceServiceSetup setup_;
  Site site_;
  std::unique_ptr<simtest::FaceSimProcess> service_;
  std::vector<std::unique_ptr<Camera>> cameras_;
};

}  // namespace e2e
