#include "platform/Profile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace platform {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "profile_test_" + std::to_string(::getpid()) + ".ini";
  }
  void TearDown() override { std::remove(path_.c_str()); }

  void Write(const std::string& text) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string Get(const std::string& section, const std::string& key) {
    return GetProfileString(section, key, "<default>", path_);
  }
  int32_t Int(const std::string& key, int32_t defaultValue = -7) {
    return GetProfileInt("n", key, defaultValue, path_);
  }

  std::string path_;
};

TEST_F(ProfileTest, TrimsBlanksAndOnePairOfMatchingQuotes) {
  Write(
      "[POSDataFormat]\r\n"
      "  Src_Path  =   /srv/drop/ \t\r\n"
      "Double = \"  spaced  \"\n"
      "Single='x'\n"
      "Nested=\"'inner'\"\n"
      "Mixed=\"abc'\n"
      "Lone=\"\n"
      "Empty=\"\"\n"
      "Inline=value ; not a comment\n"
      "NoEquals\n");
  EXPECT_EQ(Get("POSDataFormat", "Src_Path"), "/srv/drop/");
  EXPECT_EQ(Get("POSDataFormat", "Double"), "  spaced  ");
  EXPECT_EQ(Get("POSDataFormat", "Single"), "x");
  EXPECT_EQ(Get("POSDataFormat", "Nested"), "'inner'");
  EXPECT_EQ(Get("POSDataFormat", "Mixed"), "\"abc'");
  EXPECT_EQ(Get("POSDataFormat", "Lone"), "\"");
  EXPECT_EQ(Get("POSDataFormat", "Empty"), "");
  EXPECT_EQ(Get("POSDataFormat", "Inline"), "value ; not a comment");
  EXPECT_EQ(Get("POSDataFormat", "NoEquals"), "");
}

TEST_F(ProfileTest, MatchesSectionAndKeyWithoutCaseAndFirstKeyWins) {
  Write(
      "\xEF\xBB\xBF[Other]\n"
      "VendorName=wrong section\n"
      "[ posdataformat ]\n"
      "; VendorName=commented out\n"
      "  ;VendorName=also commented\n"
      "VENDORNAME=first\n"
      "VendorName=second\n"
      "[Other]\n"
      "Late=x\n"
      "[POSDATAFORMAT]\n"
      "Extra=only in the repeated section\n");
  EXPECT_EQ(Get("PosDataFormat", "vendorname"), "first");
  EXPECT_EQ(Get("other", "VendorName"), "wrong section");
  // Like the host's reader, only the first section of a name is searched.
  EXPECT_EQ(Get("POSDataFormat", "Extra"), "<default>");
  EXPECT_EQ(Get("Other", "Late"), "<default>");
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(Get("POSDataFormat", "Src_Path"), "<default>");
  EXPECT_EQ(GetProfileInt("POSDataFormat", "MaxFaceSize", 12288, path_), 12288);
  Write("[POSDataFormat]\nSrc_Path=/x\n[Empty]\n");
  EXPECT_EQ(Get("Missing", "Src_Path"), "<default>");
  EXPECT_EQ(Get("POSDataFormat", "Missing"), "<default>");
  EXPECT_EQ(Get("Empty", "Src_Path"), "<default>");
  EXPECT_EQ(Get("POSDataForma", "Src_Path"), "<default>");
  EXPECT_EQ(Get("POSDataFormat", "Src_Pat"), "<default>");
}

TEST_F(ProfileTest, IntegersParseSignAndLeadingDigitsOnly) {
  Write(
      "[n]\n"
      "plain=200\n"
      "blanks=   42   \n"
      "negative=-15\n"
      "plus=+8\n"
      "trailing=12abc\n"
      "quoted=\"300\"\n"
      "letters=abc\n"
      "signOnly=-\n"
      "spaceAfterSign=- 5\n"
      "hex=0x10\n"
      "decimal=3.9\n"
      "empty=\n");
  EXPECT_EQ(Int("plain"), 200);
  EXPECT_EQ(Int("blanks"), 42);
  EXPECT_EQ(Int("negative"), -15);
  EXPECT_EQ(Int("plus"), 8);
  EXPECT_EQ(Int("trailing"), 12);
  EXPECT_EQ(Int("quoted"), 300);
  EXPECT_EQ(Int("letters"), 0);
  EXPECT_EQ(Int("signOnly"), 0);
  EXPECT_EQ(Int("spaceAfterSign"), 0);
  EXPECT_EQ(Int("hex"), 0);
  EXPECT_EQ(Int("decimal"), 3);
  EXPECT_EQ(Int("empty"), -7);  // an empty value counts as missing
  EXPECT_EQ(Int("absent"), -7);
}

TEST_F(ProfileTest, IntegersBeyond32BitsWrapAround) {
  Write(
      "[n]\n"
      "max=2147483647\n"
      "maxPlusOne=2147483648\n"
      "allOnes=4294967295\n"
      "twoToThe32PlusOne=4294967297\n"
      "min=-2147483648\n"
      "huge=99999999999999999999\n");
  EXPECT_EQ(Int("max"), INT32_MAX);
  EXPECT_EQ(Int("maxPlusOne"), INT32_MIN);
  EXPECT_EQ(Int("allOnes"), -1);
  EXPECT_EQ(Int("twoToThe32PlusOne"), 1);
  EXPECT_EQ(Int("min"), INT32_MIN);
  EXPECT_EQ(Int("huge"), 1661992959);  // 10^20 - 1 modulo 2^32
}

}  // namespace
}  // namespace platform
