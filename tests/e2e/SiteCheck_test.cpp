// vestrel-check as a real process against sites in temporary folders: a good site passes, and
// each kind of fault fails the check with a line that names it. Cameras are real simulators;
// the face service is a listening socket on loopback.
#include <gtest/gtest.h>

#include <random>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <filesystem>
#include <fstream>

#include "tests/e2e/E2eSite.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr int kCheckMs = 60000;

// A TCP port that accepts connections (the kernel completes them) while the object lives.
class Listener {
 public:
  Listener() : acceptor_(io_, {boost::asio::ip::make_address("127.0.0.1"), 0}) {}
  int Port() const { return acceptor_.local_endpoint().port(); }

 private:
  boost::asio::io_context io_;
  boost::asio::ip::tcp::acceptor acceptor_;
};

// A loopback port where nothing listens.
int ClosedPort() { return Listener().Port(); }

struct CheckResult {
  int status = -1;
  std::string output;
};

class SiteCheckTest : public ::testing::Test {
 protected:
  SiteCheckTest() { fs::create_directories(site_.EventsDir()); }

  CheckResult RunCheck(const std::vector<std::string>& arguments) {
    platform::Subprocess check;
    platform::Subprocess::Options options;
    options.arguments = arguments;
    options.stdoutPath = site_.Root().File("check.out");
    options.stderrPath = site_.Root().File("check.err");
    std::string error;
    CheckResult result;
    if (!check.Start(VESTREL_CHECK_EXE, options, &error)) {
      ADD_FAILURE() << error;
      return result;
    }
    if (!check.Wait(kCheckMs)) {
      check.Kill();
      check.Wait(5000);
      ADD_FAILURE() << "vestrel-check did not end";
    }
    result.status = check.ExitStatus();
    result.output = ReadFileBytes(options.stdoutPath);
    return result;
  }
  CheckResult RunCheck() { return RunCheck({site_.Root().path()}); }

  static std::string VfrInfo(int port) {
    return "<VFRInfo ip=\"127.0.0.1\" port=\"" + std::to_string(port) +
           "\" username=\"u\" password=\"p\" score=\"0.7\" source=\"s\"/>";
  }
  // DevInfo.xml with the cameras and an optional face service element.
  void WriteDevInfo(const std::vector<DeviceEntry>& devices, const std::string& extra = "") {
    std::string xml = "<DevInfo><DeviceList>";
    for (const auto& d : devices) {
      xml += "<Device ip=\"" + d.ip + "\" port=\"" + std::to_string(d.port) + "\" username=\"" +
             d.user + "\" password=\"" + d.password + "\" POSID=\"" + d.posId + "\"/>";
    }
    xml += "</DeviceList><Default POSID=\"1000\"/>" + extra + "</DevInfo>";
    site_.Root().Write("bin/DevInfo.xml", xml);
  }
  bool NothingInEventFolder() const { return site_.AllEventFolderEntries().empty(); }

  Site site_;
};

TEST_F(SiteCheckTest, GoodLocalSitePassesAndSaysWhatVestrelWouldDo) {
  Camera camera;
  Listener faceService;
  site_.WriteSettings();
  WriteDevInfo({Site::Entry(camera, "1001")}, VfrInfo(faceService.Port()));
  const CheckResult result = RunCheck();
  EXPECT_EQ(result.status, 0) << result.output;
  const std::string device = camera.Ip() + ":" + std::to_string(camera.Port());
  EXPECT_NE(result.output.find(device + " user \"admin\", POS id \"1001\": login OK"),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("Default POS id (cameras not listed): \"1000\""), std::string::npos);
  EXPECT_NE(result.output.find("Face service: FRS (type 0) at 127.0.0.1:" +
                               std::to_string(faceService.Port())),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("  TLS: off (plain HTTP"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("Event folder: " + site_.EventsDir() + ": writable, "),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("No problems found."), std::string::npos);
  EXPECT_TRUE(camera.WaitForOutput("logout", 5000)) << camera.Output();
  EXPECT_TRUE(NothingInEventFolder());  // no event file, and the probe file is gone
}

TEST_F(SiteCheckTest, GoodRemoteSiteReportsTheFaceServiceTypeAndTheWatchedFiles) {
  Camera camera;
  Listener faceService;
  const std::string remote = site_.Root().Write(
      "cfg/Remote.xml", "<C><NVR_PRTY><NVR IP=\"" + camera.Ip() + "\" Port=\"" +
                            std::to_string(camera.Port()) +
                            "\" ID=\"n1\" UserName=\"admin\" Password=\"secret\"/></NVR_PRTY>"
                            "<POSUNITS_PRTY><PosUnitsDefinition><PosUnit ID=\"77\" NVRID=\"n1\" "
                            "Ch=\"1\"/></PosUnitsDefinition></POSUNITS_PRTY></C>");
  site_.Root().Write("cfg/EdgeAiCfg.xml",
                     "<E><ModeInfo type=\"1\"/><FcsList><FcsInfo ip=\"127.0.0.1\" port=\"" +
                         std::to_string(faceService.Port()) +
                         "\" accountid=\"a\" accesskey=\"k\"/></FcsList></E>");
  site_.WriteSettings("RemoteDevCfg=" + remote + "\n");
  const CheckResult result = RunCheck();
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("NVR id \"n1\", POS id \"77\": login OK"), std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("Face service: FCS (type 1)"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find(remote + ", " + site_.Root().File("cfg/EdgeAiCfg.xml")),
            std::string::npos)
      << result.output;
}

TEST_F(SiteCheckTest, MissingSettingsFileIsAProblem) {
  Camera camera;
  WriteDevInfo({Site::Entry(camera, "1001")});
  const CheckResult result = RunCheck();
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("settings file " + site_.Root().File("Config.ini") + " not found"),
            std::string::npos)
      << result.output;
}

TEST_F(SiteCheckTest, MissingDeviceListIsAProblem) {
  site_.WriteSettings();
  const CheckResult result = RunCheck();
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("device list " + site_.Root().File("bin/DevInfo.xml") +
                               " cannot be loaded (ERROR Failed to open file"),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("Vestrel would end at once with status 255"), std::string::npos);
}

TEST_F(SiteCheckTest, UnreachableDeviceAndWrongPasswordAreProblems) {
  Camera camera;
  DeviceEntry wrong = Site::Entry(camera, "1001");
  wrong.password = "not-the-password";
  const DeviceEntry gone{"127.0.0.1", ClosedPort(), "admin", "secret", "1002", true};
  site_.WriteSettings();
  WriteDevInfo({wrong, gone});
  const CheckResult result = RunCheck();
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("device " + camera.Ip() + ":" + std::to_string(camera.Port()) +
                               ": wrong user name or password (error 1)"),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("device 127.0.0.1:" + std::to_string(gone.port) +
                               ": cannot be reached (error 7)"),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("2 problems:"), std::string::npos);
}

TEST_F(SiteCheckTest, UnreachableFaceServiceIsAProblem) {
  Camera camera;
  const int port = ClosedPort();
  site_.WriteSettings();
  WriteDevInfo({Site::Entry(camera, "1001")}, VfrInfo(port));
  const CheckResult result = RunCheck();
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("face service 127.0.0.1:" + std::to_string(port) +
                               " (FRS) cannot be reached: Connection refused"),
            std::string::npos)
      << result.output;
}

TEST_F(SiteCheckTest, UnwritableOrMissingEventFolderIsAProblem) {
  Camera camera;
  WriteDevInfo({Site::Entry(camera, "1001")});
  // A folder without write permission; a privileged user writes there all the same, and then
  // a kernel folder that takes no files stands in for it.
  const std::string locked = site_.Root().File("locked");
  fs::create_directories(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  std::string unwritable = locked + "/";
  if (std::ofstream(locked + "/x").good()) unwritable = "/sys/";
  site_.Root().Write("Config.ini", "[POSDataFormat]\nSrc_Path=" + unwritable + "\n");
  CheckResult result = RunCheck();
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("event folder " + unwritable + " is not writable: "),
            std::string::npos)
      << result.output;
  fs::permissions(locked, fs::perms::owner_all);

  site_.Root().Write("Config.ini", "[POSDataFormat]\nSrc_Path=" + site_.Root().File("none") + "\n");
  result = RunCheck();
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("event folder " + site_.Root().File("none") + "/ does not exist"),
            std::string::npos)
      << result.output;

  // A spool on another file system (shared memory, where it is one) cannot publish by a rename.
  const std::string spool = "/dev/shm/vestrel-check-spool-" + std::to_string(std::random_device{}());
  fs::create_directories(site_.EventsDir());
  if (fs::create_directory(spool) && fs::status(spool).type() == fs::file_type::directory) {
    site_.WriteSettings("SpoolPath=" + spool + "\n");
    result = RunCheck();
    fs::remove_all(spool);
    EXPECT_NE(result.output.find("spool folder " + spool + " is not on the file system of the "
                                 "event folder"),
              std::string::npos)
        << result.output;
  }
}

TEST_F(SiteCheckTest, DefaultSiteIsTheFolderAboveTheProgramAndExtraArgumentsAreRefused) {
  EXPECT_EQ(RunCheck({"a", "b"}).status, 2);
  const CheckResult result = RunCheck({});
  // build/vestrel-check: the site is the folder above build/.
  EXPECT_NE(result.output.find("Vestrel site check: " +
                               fs::path(VESTREL_CHECK_EXE).parent_path().parent_path().string()),
            std::string::npos)
      << result.output;
}

}  // namespace
}  // namespace e2e
