#include "config/FaceServiceLoader.h"

#include <gtest/gtest.h>

#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

class FaceServiceLoaderTest : public ::testing::Test {
 protected:
  bool Edge(const std::string& xml) { return LoadEdgeAiCfg(dir_.Write("EdgeAiCfg.xml", xml), config_); }
  bool Vfr(const std::string& xml) { return LoadVfrInfo(dir_.Write("DevInfo.xml", xml), config_); }
  TempDir dir_;
  std::unique_ptr<FaceServiceConfig> config_;
  LogCapture log_;
};

constexpr const char* kFrsInfo =
    R"(<FrsInfo ip="127.0.0.1" port="8080" username="u" password="p" score="0.75" client="c1" )"
    R"(enable="1" source="cam" location="door"/>)";

TEST_F(FaceServiceLoaderTest, VfrInfoGivesAnFrsRecordWithAllNineValues) {
  ASSERT_TRUE(Vfr(R"(<R><DeviceList/><VFRInfo ip="10.2.0.1" port="9000" username="u" password="p"
      score="0.9" client="edge" enable="0" source="s" location="l"/></R>)"));
  ASSERT_TRUE(config_);
  EXPECT_EQ(config_->Type, kFaceServiceFrs);
  EXPECT_EQ(config_->Ip, "10.2.0.1");
  EXPECT_EQ(config_->Port, 9000);
  EXPECT_EQ(config_->UserName, "u");
  EXPECT_EQ(config_->Password, "p");
  EXPECT_DOUBLE_EQ(config_->Score, 0.9);
  EXPECT_EQ(config_->Client, "edge");
  EXPECT_EQ(config_->Enable, 0);
  EXPECT_EQ(config_->Source, "s");
  EXPECT_EQ(config_->Location, "l");
  EXPECT_EQ(log_.Count("device info loaded...", LogCapture::kInfo), 1);
}

TEST_F(FaceServiceLoaderTest, VfrInfoIsNotValidatedAndMissingValuesTakeDefaults) {
  ASSERT_TRUE(Vfr("<R><VFRInfo/></R>"));
  ASSERT_TRUE(config_);
  EXPECT_EQ(config_->Ip, "");
  EXPECT_EQ(config_->Port, 0);
  EXPECT_DOUBLE_EQ(config_->Score, kDefaultFaceScore);
  EXPECT_EQ(config_->Enable, kDefaultFaceEnable);
  EXPECT_FALSE(config_->Tls);
  // Any tls other than "0" asks for TLS, so that a typo never sends in clear.
  for (const char* tls : {"1", "yes"}) {
    ASSERT_TRUE(Vfr(std::string("<R><VFRInfo tls=\"") + tls + "\"/></R>"));
    EXPECT_TRUE(config_->Tls) << tls;
  }
}

TEST_F(FaceServiceLoaderTest, NoVfrInfoIsSuccessWithoutAService) {
  EXPECT_TRUE(Vfr("<R><DeviceList/></R>"));
  EXPECT_FALSE(config_);
  EXPECT_FALSE(Vfr("<R>"));
  EXPECT_FALSE(config_);
}

TEST_F(FaceServiceLoaderTest, EdgeWithoutModeInfoIsAnFrsRecord) {
  ASSERT_TRUE(Edge(std::string("<E><FrsList>") + kFrsInfo + "</FrsList></E>"));
  ASSERT_TRUE(config_);
  EXPECT_EQ(config_->Type, kFaceServiceFrs);
  EXPECT_EQ(config_->Ip, "127.0.0.1");
  EXPECT_EQ(config_->Port, 8080);
  EXPECT_DOUBLE_EQ(config_->Score, 0.75);
  EXPECT_EQ(config_->Location, "door");
  EXPECT_EQ(log_.Count("Loading EgdeAiCfg.xml...", LogCapture::kInfo), 1);
  EXPECT_EQ(log_.Count("device info loaded...", LogCapture::kInfo), 1);
}

TEST_F(FaceServiceLoaderTest, TypeTwoAcceptsAnEmptySourceAndTypeZeroDoesNot) {
  const std::string noSource =
      R"(<FrsInfo ip="127.0.0.1" port="8080" username="u" password="p"/>)";
  ASSERT_TRUE(Edge("<E><ModeInfo type=\"2\"/><FrsList>" + noSource + "</FrsList></E>"));
  ASSERT_TRUE(config_);
  EXPECT_EQ(config_->Type, kFaceServiceFrsV2);
  EXPECT_DOUBLE_EQ(config_->Score, kDefaultFaceScore);
  config_.reset();
  EXPECT_FALSE(Edge("<E><ModeInfo type=\"0\"/><FrsList>" + noSource + "</FrsList></E>"));
  EXPECT_FALSE(config_);
  EXPECT_EQ(log_.Count("Failed to load device info...", LogCapture::kInfo), 1);
}

TEST_F(FaceServiceLoaderTest, FcsRecordTakesItsOwnFieldsAndDefaultScore) {
  ASSERT_TRUE(Edge(R"(<E><ModeInfo type="1"/><FcsList>
      <FcsInfo ip="127.0.0.2" port="443" accountid="acc" accesskey="key" tls="1" cafile="ca"/>
    </FcsList></E>)"));
  ASSERT_TRUE(config_);
  EXPECT_EQ(config_->Type, kFaceServiceFcs);
  EXPECT_TRUE(config_->Tls);
  EXPECT_EQ(config_->CaFile, "ca");
  EXPECT_EQ(config_->AccountId, "acc");
  EXPECT_EQ(config_->AccessKey, "key");
  EXPECT_DOUBLE_EQ(config_->Score, 0.8);
  EXPECT_EQ(config_->UserName, "");
}

TEST_F(FaceServiceLoaderTest, FcsChecksEachRequiredValue) {
  for (const char* info : {R"(<FcsInfo port="1" accountid="a" accesskey="k"/>)",
                           R"(<FcsInfo ip="h" port="0" accountid="a" accesskey="k"/>)",
                           R"(<FcsInfo ip="h" port="1" accesskey="k"/>)",
                           R"(<FcsInfo ip="h" port="1" accountid="a"/>)"}) {
    EXPECT_FALSE(Edge(std::string("<E><ModeInfo type=\"1\"/><FcsList>") + info + "</FcsList></E>"))
        << info;
    EXPECT_FALSE(config_) << info;
  }
}

TEST_F(FaceServiceLoaderTest, UnknownTypeReadsNothingAndSucceeds) {
  ASSERT_TRUE(Edge(std::string("<E><ModeInfo type=\"7\"/><FrsList>") + kFrsInfo + "</FrsList></E>"));
  EXPECT_FALSE(config_);
  EXPECT_EQ(log_.Count("device info loaded...", LogCapture::kInfo), 1);
}

TEST_F(FaceServiceLoaderTest, EmptyListIsSuccessAndMissingListIsFailure) {
  EXPECT_TRUE(Edge("<E><FrsList/></E>"));
  EXPECT_FALSE(config_);
  EXPECT_FALSE(Edge("<E><FcsList/></E>"));
  EXPECT_FALSE(config_);
  EXPECT_FALSE(Edge("<E><ModeInfo type=\"1\"/><FrsList/></E>"));
  EXPECT_EQ(log_.Count("Failed to load device info...", LogCapture::kInfo), 2);
}

TEST_F(FaceServiceLoaderTest, EachRequiredFrsValueFailsTheLoad) {
  for (const char* info : {R"(<FrsInfo port="1" username="u" password="p" source="s"/>)",
                           R"(<FrsInfo ip="h" port="0" username="u" password="p" source="s"/>)",
                           R"(<FrsInfo ip="h" username="u" password="p" source="s"/>)",
                           R"(<FrsInfo ip="h" port="1" password="p" source="s"/>)",
                           R"(<FrsInfo ip="h" port="1" username="u" source="s"/>)"}) {
    EXPECT_FALSE(Edge(std::string("<E><FrsList>") + info + "</FrsList></E>")) << info;
    EXPECT_FALSE(config_) << info;
  }
}

TEST_F(FaceServiceLoaderTest, OnlyTheFirstEntryCountsEvenWhenItFails) {
  EXPECT_FALSE(Edge(std::string("<E><FrsList><FrsInfo ip=\"h\" port=\"0\"/>") + kFrsInfo +
                    "</FrsList></E>"));
  EXPECT_FALSE(config_);
  ASSERT_TRUE(Edge(std::string("<E><FrsList>") + kFrsInfo +
                   "<FrsInfo ip=\"other\" port=\"1\" username=\"u\" password=\"p\" source=\"s\"/>"
                   "</FrsList></E>"));
  EXPECT_EQ(config_->Ip, "127.0.0.1");
}

TEST_F(FaceServiceLoaderTest, FirstModeInfoWins) {
  ASSERT_TRUE(Edge(R"(<E><ModeInfo type="1"/><ModeInfo type="0"/><FcsList>
      <FcsInfo ip="h" port="1" accountid="a" accesskey="k" score="0.6"/></FcsList></E>)"));
  EXPECT_EQ(config_->Type, kFaceServiceFcs);
  EXPECT_DOUBLE_EQ(config_->Score, 0.6);
}

TEST_F(FaceServiceLoaderTest, BrokenFileLogsTheParserErrorAndFails) {
  EXPECT_FALSE(Edge("<E><FrsList></E>"));
  EXPECT_FALSE(config_);
  EXPECT_EQ(log_.Lines().back().level, LogCapture::kError);
}

}  // namespace
