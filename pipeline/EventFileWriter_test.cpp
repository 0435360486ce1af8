#include "pipeline/EventFileWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <log4cplus/appender.h>
#include <log4cplus/logger.h>
#include <log4cplus/spi/loggingevent.h>
#include <tinyxml.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"
#include "support/LogHelper.h"

namespace fs = std::filesystem;
using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

// Collects what is logged to the "Vestrel" logger while a test runs, as "LEVEL text".
class CapturingAppender : public log4cplus::Appender {
 public:
  ~CapturingAppender() override { destructorImpl(); }
  void close() override {}
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
  }

 protected:
  void append(const log4cplus::spi::InternalLoggingEvent& event) override {
    const char* level = event.getLogLevel() == log4cplus::DEBUG_LOG_LEVEL   ? "DEBUG "
                        : event.getLogLevel() == log4cplus::ERROR_LOG_LEVEL ? "ERROR "
                                                                            : "OTHER ";
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.push_back(level + event.getMessage());
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The "Info" values (and the "Vender" value first) of an event document, read back in UTF-8.
std::vector<std::string> ReadBack(const std::string& text) {
  TiXmlDocument document;
  document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
  std::vector<std::string> values;
  const TiXmlElement* root = document.RootElement();
  if (document.Error() || root == nullptr) return values;
  values.push_back(root->Attribute("Vender") ? root->Attribute("Vender") : "<none>");
  for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
    values.push_back(e->Attribute("Info") ? e->Attribute("Info") : "<none>");
  }
  return values;
}

FaceSnapshot DirectSnapshot() {
  FaceSnapshot snapshot;
  snapshot.EventTime = LocalTime(2021, 6, 24, 9, 5, 3);
  snapshot.FaceID = 57;
  snapshot.PosId = "1001";
  snapshot.Picture = "/9j/4AAQSkZJRg==";
  snapshot.FaceTemperature = 36.5f;
  snapshot.TemperatureStatus = 1;
  snapshot.TemperatureUnit = 0;
  snapshot.WearMask = -1;
  return snapshot;
}

class EventFileWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    CLogHelper::GetInstance();  // reads the logging configuration before the appender goes in
    logger_ = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("Vestrel"));
    savedLevel_ = logger_.getLogLevel();
    logger_.setLogLevel(log4cplus::DEBUG_LOG_LEVEL);
    appender_ = log4cplus::SharedAppenderPtr(capture_ = new CapturingAppender);
    logger_.addAppender(appender_);
    const char* codePage = std::getenv("VESTREL_ANSI_CODEPAGE");
    savedCodePage_ = codePage != nullptr ? codePage : "";
    hadCodePage_ = codePage != nullptr;
  }
  void TearDown() override {
    logger_.removeAppender(appender_);
    logger_.setLogLevel(savedLevel_);
    if (hadCodePage_) {
      setenv("VESTREL_ANSI_CODEPAGE", savedCodePage_.c_str(), 1);
    } else {
      unsetenv("VESTREL_ANSI_CODEPAGE");
    }
  }

  std::string Folder() const { return temp_.path() + "/"; }

  TempDir temp_;
  log4cplus::Logger logger_;
  log4cplus::LogLevel savedLevel_ = log4cplus::NOT_SET_LOG_LEVEL;
  log4cplus::SharedAppenderPtr appender_;
  CapturingAppender* capture_ = nullptr;
  std::string savedCodePage_;
  bool hadCodePage_ = false;
};

TEST_F(EventFileWriterTest, WritesTheDocumentByteForByte) {
  const EventFileWriter writer(Folder(), "Vestrel Edge");
  const FaceSnapshot snapshot = DirectSnapshot();
  const std::string path = Folder() + "/1001_57_20210624090503.txt";
  EXPECT_EQ(writer.MakeEventFileName(snapshot), path);

  ASSERT_TRUE(writer.WriteEventFile(snapshot));
  EXPECT_EQ(ReadFile(path),
            "<POSEvent Vender=\"Vestrel Edge\">\r\n"
            "    <EventType Info=\"FaceTrack\" />\r\n"
            "    <EventDateTime Info=\"2021-06-24 09:05:03\" />\r\n"
            "    <FaceID Info=\"57\" />\r\n"
            "    <EventID Info=\"1001\" />\r\n"
            "    <Picture Info=\"/9j/4AAQSkZJRg==\" />\r\n"
            "    <FaceTemperature Info=\"36.5\" />\r\n"
            "    <TemperatureStatus Info=\"1\" />\r\n"
            "    <PersonId Info=\"\" />\r\n"
            "    <GroupId Info=\"-2\" />\r\n"
            "    <PersonGroup Info=\"\" />\r\n"
            "    <PersonName Info=\"\" />\r\n"
            "    <Confidence Info=\"0.0\" />\r\n"
            "    <TemperatureUnit Info=\"0\" />\r\n"
            "    <WearMask Info=\"-1\" />\r\n"
            "</POSEvent>\r\n");
  EXPECT_THAT(FolderEntries(temp_.path()), ElementsAre("1001_57_20210624090503.txt"));
  EXPECT_THAT(capture_->Lines(),
              ElementsAre("DEBUG Process face snapshot: id(57), " + path + " @3\n",
                          "DEBUG Process face snapshot: id(57), success @13\n"));
}

TEST_F(EventFileWriterTest, EscapedValuesReadBackUnchanged) {
  const std::string vendor = "A&B \"C\" <D> 'E'";
  const EventFileWriter writer(Folder(), vendor);
  FaceSnapshot snapshot = DirectSnapshot();
  snapshot.PersonId = "p&1";
  snapshot.PersonGroup = "<VIP>";
  snapshot.PersonName = "O'Neil \"Jr\" & co";
  snapshot.Confidence = "0.93";
  snapshot.GroupId = 1;
  ASSERT_TRUE(writer.WriteEventFile(snapshot));
  const std::string text = ReadFile(writer.MakeEventFileName(snapshot));
  EXPECT_THAT(text,
              StartsWith("<POSEvent Vender='A&amp;B &quot;C&quot; &lt;D&gt; &apos;E&apos;'>\r\n"));
  EXPECT_THAT(text, HasSubstr("    <PersonGroup Info=\"&lt;VIP&gt;\" />\r\n"));
  EXPECT_THAT(ReadBack(text), ElementsAre(vendor, "FaceTrack", "2021-06-24 09:05:03", "57", "1001",
                                          "/9j/4AAQSkZJRg==", "36.5", "1", "p&1", "1", "<VIP>",
                                          "O'Neil \"Jr\" & co", "0.93", "0", "-1"));
}

TEST_F(EventFileWriterTest, ConvertsAnsiTextToUtf8) {
  setenv("VESTREL_ANSI_CODEPAGE", "CP1252", 1);
  const EventFileWriter writer(Folder(), "Caf\xE9");
  FaceSnapshot snapshot = DirectSnapshot();
  snapshot.PersonName = "J\xFCrgen \x80";
  ASSERT_TRUE(writer.WriteEventFile(snapshot));
  const std::string text = ReadFile(writer.MakeEventFileName(snapshot));
  EXPECT_THAT(text, StartsWith("<POSEvent Vender=\"Caf\xC3\xA9\">\r\n"));
  const std::vector<std::string> values = ReadBack(text);
  ASSERT_EQ(values.size(), 15u);
  EXPECT_EQ(values[0], "Caf\xC3\xA9");
  EXPECT_EQ(values[11], "J\xC3\xBCrgen \xE2\x82\xAC");

  setenv("VESTREL_ANSI_CODEPAGE", "UTF-8", 1);
  snapshot.FaceID = 58;
  snapshot.PersonName = "Zo\xC3\xAB \xE4\xB8\xAD\xE6\x96\x87";
  const EventFileWriter utf8Writer(Folder(), "Caf\xC3\xA9");
  ASSERT_TRUE(utf8Writer.WriteEventFile(snapshot));
  const std::vector<std::string> utf8Values =
      ReadBack(ReadFile(utf8Writer.MakeEventFileName(snapshot)));
  ASSERT_EQ(utf8Values.size(), 15u);
  EXPECT_EQ(utf8Values[0], "Caf\xC3\xA9");
  EXPECT_EQ(utf8Values[11], "Zo\xC3\xAB \xE4\xB8\xAD\xE6\x96\x87");
}

// A strict XML reader refuses "&#x01;"; a 30 MB name would make a 30 MB file.
TEST_F(EventFileWriterTest, PeerValuesHoldOnlyXmlCharactersAndAtMost256) {
  const std::string fffd = "\xEF\xBF\xBD";
  const struct {
    const char* codePage;
    std::string in;
    std::string out;  // as read back from the UTF-8 file
  } rows[] = {
      {"UTF-8", "Ann\x01" "B\tC", "Ann" + fffd + "B\tC"},
      {"UTF-8", "bad \xC3 \x1F", "bad " + fffd + " " + fffd},
      {"UTF-8", std::string(255, 'x') + "\xC3\xA9\xC3\xA9", std::string(255, 'x') + "\xC3\xA9"},
      {"CP1252", "J\xFCrgen\x02", "J\xC3\xBCrgen?"},
      {"CP1252", std::string(300, '\xE9'), [] {
         std::string e;
         for (int i = 0; i < 256; ++i) e += "\xC3\xA9";
         return e;
       }()},
  };
  for (const auto& row : rows) {
    setenv("VESTREL_ANSI_CODEPAGE", row.codePage, 1);
    const EventFileWriter writer(Folder(), row.in);
    FaceSnapshot snapshot = DirectSnapshot();
    snapshot.PersonId = snapshot.PersonGroup = snapshot.PersonName = row.in;
    ASSERT_TRUE(writer.WriteEventFile(snapshot));
    const std::string text = ReadFile(writer.MakeEventFileName(snapshot));
    EXPECT_THAT(text, Not(ContainsRegex("&#x(0[0-8BCEF]|1)"))) << row.in;
    const std::vector<std::string> values = ReadBack(text);
    ASSERT_EQ(values.size(), 15u);
    for (const int index : {0, 8, 10, 11}) EXPECT_EQ(values[index], row.out) << index;
  }
}

TEST_F(EventFileWriterTest, FormatsTemperatureWithSixSignificantDigits) {
  const EventFileWriter writer(Folder(), "V");
  FaceSnapshot snapshot = DirectSnapshot();
  const std::pair<float, const char*> cases[] = {{36.5f, "36.5"},   {37.0f, "37"},
                                                 {0.0f, "0"},       {36.6f, "36.6"},
                                                 {98.24f, "98.24"}, {-12.5f, "-12.5"}};
  for (const auto& c : cases) {
    snapshot.FaceTemperature = c.first;
    const std::vector<std::string> values = ReadBack(writer.BuildEventXml(snapshot));
    ASSERT_EQ(values.size(), 15u);
    EXPECT_EQ(values[6], c.second);
  }
}

TEST_F(EventFileWriterTest, FileNamePadsTheTimeFieldsToTwoDigits) {
  const EventFileWriter writer("/events/", "V");
  FaceSnapshot snapshot = DirectSnapshot();
  snapshot.EventTime = LocalTime(2021, 1, 2, 3, 4, 5);
  snapshot.FaceID = 7;
  snapshot.PosId = "P9";
  EXPECT_EQ(writer.MakeEventFileName(snapshot), "/events//P9_7_20210102030405.txt");
  const std::vector<std::string> values = ReadBack(writer.BuildEventXml(snapshot));
  ASSERT_EQ(values.size(), 15u);
  EXPECT_EQ(values[2], "2021-01-02 03:04:05");
}

TEST_F(EventFileWriterTest, CreatesMissingFolderLevelsBeforeWriting) {
  const std::string folder = temp_ / "Events/Site1/";
  const EventFileWriter writer(folder, "V");
  ASSERT_TRUE(writer.WriteEventFile(DirectSnapshot()));
  EXPECT_TRUE(fs::is_regular_file(temp_ / "Events/Site1/1001_57_20210624090503.txt"));
}

TEST_F(EventFileWriterTest, ALaterFileOfTheSameNameReplacesTheEarlier) {
  const EventFileWriter writer(Folder(), "V");
  FaceSnapshot snapshot = DirectSnapshot();
  ASSERT_TRUE(writer.WriteEventFile(snapshot));
  snapshot.Picture = "c2Vjb25k";
  ASSERT_TRUE(writer.WriteEventFile(snapshot));
  EXPECT_THAT(ReadFile(writer.MakeEventFileName(snapshot)), HasSubstr("\"c2Vjb25k\""));
  EXPECT_THAT(FolderEntries(temp_.path()), ElementsAre("1001_57_20210624090503.txt"));
}

TEST_F(EventFileWriterTest, AFolderThatCannotBeMadeFailsWithTheReason) {
  std::ofstream(temp_ / "file") << "x";
  const EventFileWriter writer(temp_ / "file/sub/", "V");
  EXPECT_FALSE(writer.WriteEventFile(DirectSnapshot()));
  EXPECT_THAT(FolderEntries(temp_.path()), ElementsAre("file"));
  const std::vector<std::string> lines = capture_->Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[1], MatchesRegex("DEBUG Process face snapshot: id\\(57\\), .+ @12\n"));
  EXPECT_THAT(lines[1], HasSubstr("Not a directory"));
}

TEST_F(EventFileWriterTest, ARelativeMissingFolderIsNotCreatedAndTheWriteFails) {
  const std::string relative =
      "vestrel-missing-" + fs::path(temp_.path()).filename().string() + "/";
  const EventFileWriter writer(relative, "V");
  EXPECT_FALSE(writer.WriteEventFile(DirectSnapshot()));
  EXPECT_FALSE(fs::exists(relative));
  const std::vector<std::string> lines = capture_->Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[1], MatchesRegex("DEBUG Process face snapshot: id\\(57\\), .+ @12\n"));
}

TEST_F(EventFileWriterTest, AFailedRenameLeavesNoTemporaryFile) {
  const EventFileWriter writer(Folder(), "V");
  const FaceSnapshot snapshot = DirectSnapshot();
  fs::create_directory(writer.MakeEventFileName(snapshot));  // the name is taken by a folder
  EXPECT_FALSE(writer.WriteEventFile(snapshot));
  EXPECT_THAT(FolderEntries(temp_.path()), ElementsAre("1001_57_20210624090503.txt"));
  EXPECT_TRUE(fs::is_directory(writer.MakeEventFileName(snapshot)));
  const std::vector<std::string> lines = capture_->Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[1], HasSubstr("rename"));
  EXPECT_THAT(lines[1], testing::EndsWith(" @12\n"));
}

TEST_F(EventFileWriterTest, ANameTooLongFailsAndIsNeverShortened) {
  const EventFileWriter writer(Folder(), "V");
  FaceSnapshot snapshot = DirectSnapshot();
  // Beyond the path limit; beyond the name limit only; long enough for a reason of more than a
  // log line.
  for (const std::size_t length : {5000, 300, 1200}) {
    snapshot.PosId = std::string(length, 'p');
    EXPECT_FALSE(writer.WriteEventFile(snapshot)) << length;
  }
  EXPECT_TRUE(FolderEntries(temp_.path()).empty());
  const std::vector<std::string> lines = capture_->Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_THAT(lines[1], HasSubstr("longer than the limit"));
  for (const std::size_t i : {1, 3, 5}) {
    EXPECT_THAT(lines[i], StartsWith("DEBUG Process face snapshot: id(57), ")) << i;
    EXPECT_THAT(lines[i], testing::EndsWith(" @12\n")) << i;
  }
}

TEST_F(EventFileWriterTest, WritesFromSeveralThreadsAtOnce) {
  const EventFileWriter writer(Folder(), "V");
  constexpr int kThreads = 4;
  constexpr int kFilesEach = 20;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&writer, t] {
      FaceSnapshot snapshot = DirectSnapshot();
      for (int i = 0; i < kFilesEach; ++i) {
        snapshot.FaceID = t * 1000 + i;
        writer.WriteEventFile(snapshot);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::vector<std::string> names = FolderEntries(temp_.path());
  ASSERT_EQ(names.size(), static_cast<std::size_t>(kThreads * kFilesEach));
  for (const std::string& name : names) {
    EXPECT_EQ(ReadBack(ReadFile(temp_ / name)).size(), 15u) << name;
  }
}

}  // namespace
