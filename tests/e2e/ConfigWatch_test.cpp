// Vestrel with the remote configuration set, as a real process with the real 500 ms polling
// period: edits of the watched files end it with status 255 when they matter and leave it
// running when they do not; a file that goes missing is no change until it is back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "tests/e2e/E2eSite.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

constexpr int kStartMs = 15000;
constexpr int kExitMs = 10000;
// Several polling periods: long enough for a report that is going to come.
constexpr auto kSettle = 2s;

struct Nvr {
  std::string ip;
  std::string id;
};

// A remote device file; its devices sit where nothing listens, so logins fail at once and the
// start-up goes on.
std::string RemoteXml(const std::vector<Nvr>& nvrs) {
  std::string xml = "<Cfg>\n  <NVR_PRTY>\n";
  for (const Nvr& n : nvrs) {
    xml += "    <NVR IP=\"" + n.ip + "\" Port=\"1\" ID=\"" + n.id +
           "\" UserName=\"u\" Password=\"p\"/>\n";
  }
  xml += "  </NVR_PRTY>\n  <POSUNITS_PRTY><PosUnitsDefinition>\n";
  for (const Nvr& n : nvrs) xml += "    <PosUnit ID=\"5\" NVRID=\"" + n.id + "\" Ch=\"1\"/>\n";
  return xml + "  </PosUnitsDefinition></POSUNITS_PRTY>\n</Cfg>\n";
}

const std::vector<Nvr> kOneNvr = {{"127.0.0.1", "n1"}};
const std::string kEdgeXml = "<E><ModeInfo type=\"7\"/></E>\n";

class ConfigWatchTest : public ::testing::Test {
 protected:
  std::string Remote() const { return site_.Root().File("cfg/Remote.xml"); }
  std::string Edge() const { return site_.Root().File("cfg/EdgeAiCfg.xml"); }
  static std::string Changed(const std::string& path) { return "Watched file changed: " + path; }

  // Starts Vestrel on the remote set and waits for the first report of each watched file.
  void Start(bool withEdgeFile = true, const std::string& remoteName = "cfg/Remote.xml") {
    site_.Root().Write(remoteName, RemoteXml(kOneNvr));
    if (withEdgeFile) site_.Root().Write("cfg/EdgeAiCfg.xml", kEdgeXml);
    site_.WriteSettings("RemoteDevCfg=" + site_.Root().File(remoteName) + "\n");
    ASSERT_TRUE(site_.StartVestrel());
    ASSERT_TRUE(site_.WaitForLog(Changed(site_.Root().File(remoteName)), kStartMs)) << site_.Log();
    if (remoteName == "cfg/Remote.xml") {
      ASSERT_TRUE(site_.WaitForLog(Changed(Edge()), kStartMs)) << site_.Log();
    }
  }
  int Reports(const std::string& path) const {
    return CountOccurrences(site_.Log(), Changed(path) + "\n");
  }
  bool Running() { return site_.Vestrel().Running(); }
  // Waits for Vestrel to end by itself; its exit status, or -1.
  int ExitStatus() {
    if (!site_.Vestrel().Wait(kExitMs)) return -1;
    return site_.Vestrel().ExitStatus();
  }
  // Moves the file's last-write time by the offset from what it is.
  static void Shift(const std::string& path, std::filesystem::file_time_type::duration offset) {
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + offset);
  }
  static void Touch(const std::string& path) {
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now());
  }

  Site site_;
};

TEST_F(ConfigWatchTest, FirstReportOfEachFileIsAbsorbedAndVestrelKeepsRunning) {
  Start();
  std::this_thread::sleep_for(kSettle);
  EXPECT_TRUE(Running());
  EXPECT_EQ(Reports(Remote()), 1);
  EXPECT_EQ(Reports(Edge()), 1);
  EXPECT_EQ(CountOccurrences(site_.Log(), "Monitoring EgdeAiCfg.xml..."), 1);
  EXPECT_EQ(CountOccurrences(site_.Log(), "EgdeAiCfg.xml changed..."), 0);
  EXPECT_EQ(site_.StopVestrel(), 0);
}

TEST_F(ConfigWatchTest, TouchOfTheEdgeFileEndsVestrelWithStatus255) {
  Start();
  const auto touched = std::chrono::steady_clock::now();
  Touch(Edge());
  EXPECT_EQ(ExitStatus(), 255) << site_.Log();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - touched)
                      .count();
  std::cout << "touch of EdgeAiCfg.xml to exit: about " << ms << " ms\n";
  EXPECT_EQ(CountOccurrences(site_.Log(), "EgdeAiCfg.xml changed..."), 1);
  EXPECT_EQ(CountOccurrences(site_.Log(), "Monitoring EgdeAiCfg.xml..."), 2);
}

TEST_F(ConfigWatchTest, IdenticalRewriteOfTheRemoteFileKeepsVestrelRunning) {
  Start();
  site_.Root().Write("cfg/Remote.xml", RemoteXml(kOneNvr));
  Shift(Remote(), 1s);  // later than the start, whatever the clock's granularity
  ASSERT_TRUE(site_.WaitForLog(Changed(Remote()), kExitMs, 2)) << site_.Log();
  std::this_thread::sleep_for(kSettle);
  EXPECT_TRUE(Running()) << site_.Log();
  EXPECT_EQ(site_.StopVestrel(), 0);
}

TEST_F(ConfigWatchTest, DeviceAddedToTheRemoteFileEndsVestrelWithStatus255) {
  Start();
  site_.Root().Write("cfg/Remote.xml", RemoteXml({kOneNvr[0], {"127.0.0.9", "n2"}}));
  Shift(Remote(), 1s);
  EXPECT_EQ(ExitStatus(), 255) << site_.Log();
  EXPECT_EQ(Reports(Remote()), 2);
}

// A restored backup (cp -p) is older than what Vestrel read, and still a change.
TEST_F(ConfigWatchTest, RestoredOlderCopyThatDiffersEndsVestrelWithStatus255) {
  Start();
  site_.Root().Write("cfg/Remote.xml", RemoteXml({kOneNvr[0], {"127.0.0.9", "n2"}}));
  Shift(Remote(), -1h);
  EXPECT_EQ(ExitStatus(), 255) << site_.Log();
  EXPECT_EQ(Reports(Remote()), 2);
}

TEST_F(ConfigWatchTest, TwoEditsWithinOneIntervalAreOneReport) {
  Start();
  const std::string content = RemoteXml(kOneNvr);
  const auto base = std::filesystem::last_write_time(Remote());
  site_.Root().Write("cfg/Remote.xml", content);
  std::filesystem::last_write_time(Remote(), base + 1s);
  site_.Root().Write("cfg/Remote.xml", content);
  std::filesystem::last_write_time(Remote(), base + 2s);
  ASSERT_TRUE(site_.WaitForLog(Changed(Remote()), kExitMs, 2)) << site_.Log();
  std::this_thread::sleep_for(kSettle);
  EXPECT_EQ(Reports(Remote()), 2);
  EXPECT_TRUE(Running());
  EXPECT_EQ(site_.StopVestrel(), 0);
}

// A remote device file named EdgeAiCfg.xml is also the face-service file: the second
// registration of the same path is ignored, so its edits go through compare mode only.
TEST_F(ConfigWatchTest, SecondRegistrationOfTheSamePathIsIgnored) {
  Start(false, "cfg/EdgeAiCfg.xml");
  site_.Root().Write("cfg/EdgeAiCfg.xml", RemoteXml(kOneNvr));
  Shift(Edge(), 1s);
  ASSERT_TRUE(site_.WaitForLog(Changed(Edge()), kExitMs, 2)) << site_.Log();
  std::this_thread::sleep_for(kSettle);
  EXPECT_TRUE(Running()) << site_.Log();
  EXPECT_EQ(CountOccurrences(site_.Log(), "Monitoring EgdeAiCfg.xml..."), 0);
  EXPECT_EQ(site_.StopVestrel(), 0);
}

TEST_F(ConfigWatchTest, MissingRemoteFileIsNoChangeAndTheEdgeFileStaysWatched) {
  Start();
  std::filesystem::rename(Remote(), Remote() + ".away");
  ASSERT_TRUE(site_.WaitForLog("Watched file is missing: " + Remote(), kExitMs)) << site_.Log();
  std::this_thread::sleep_for(kSettle);
  EXPECT_TRUE(Running());
  EXPECT_EQ(CountOccurrences(site_.Log(), "Watched file is missing: " + Remote()), 1);
  // Back with a later time and the same content: one report, nothing used changed.
  std::filesystem::rename(Remote() + ".away", Remote());
  Shift(Remote(), 1s);
  ASSERT_TRUE(site_.WaitForLog(Changed(Remote()), kExitMs, 2)) << site_.Log();
  EXPECT_TRUE(site_.WaitForLog("Watched file is back: " + Remote(), kExitMs));
  std::this_thread::sleep_for(kSettle);
  EXPECT_TRUE(Running());
  // Gone again: the other watched file still ends Vestrel when touched.
  std::filesystem::remove(Remote());
  ASSERT_TRUE(site_.WaitForLog("Watched file is missing: " + Remote(), kExitMs, 2));
  Touch(Edge());
  EXPECT_EQ(ExitStatus(), 255) << site_.Log();
}

TEST_F(ConfigWatchTest, EdgeFileDeletedAndWrittenAgainEndsVestrel) {
  Start();
  std::filesystem::remove(Edge());
  ASSERT_TRUE(site_.WaitForLog("Watched file is missing: " + Edge(), kExitMs)) << site_.Log();
  std::this_thread::sleep_for(kSettle);
  EXPECT_TRUE(Running());
  site_.Root().Write("cfg/EdgeAiCfg.xml", kEdgeXml);
  Shift(Edge(), 1s);
  EXPECT_EQ(ExitStatus(), 255) << site_.Log();
  EXPECT_EQ(CountOccurrences(site_.Log(), "EgdeAiCfg.xml changed..."), 1);
}

TEST_F(ConfigWatchTest, FileReplacedByRenameIsExactlyOneChange) {
  Start();
  const std::string temp = site_.Root().Write("cfg/.Remote.xml.new", RemoteXml(kOneNvr));
  Shift(temp, 1s);
  std::filesystem::rename(temp, Remote());
  ASSERT_TRUE(site_.WaitForLog(Changed(Remote()), kExitMs, 2)) << site_.Log();
  std::this_thread::sleep_for(kSettle);
  EXPECT_EQ(Reports(Remote()), 2);
  EXPECT_EQ(CountOccurrences(site_.Log(), "Watched file is missing"), 0);
  EXPECT_TRUE(Running());
  EXPECT_EQ(site_.StopVestrel(), 0);
}

TEST_F(ConfigWatchTest, EdgeFileThatWasNeverThereEndsVestrelWhenItAppears) {
  Start(false);
  ASSERT_TRUE(site_.WaitForLog("Watched file is missing: " + Edge(), kExitMs)) << site_.Log();
  std::this_thread::sleep_for(kSettle);
  EXPECT_TRUE(Running());
  EXPECT_EQ(CountOccurrences(site_.Log(), "Monitoring EgdeAiCfg.xml..."), 1);  // absorbed
  site_.Root().Write("cfg/EdgeAiCfg.xml", kEdgeXml);
  EXPECT_EQ(ExitStatus(), 255) << site_.Log();
  EXPECT_EQ(CountOccurrences(site_.Log(), "EgdeAiCfg.xml changed..."), 1);
}

}  // namespace
}  // namespace e2e
