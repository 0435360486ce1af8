#include "tools/facesim/Gallery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/Base64.h"
#include "tests/support/TempDir.h"

namespace facesim {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string Data(const std::string& name) {
  return std::string(VESTREL_TEST_DATA_DIR) + "/" + name;
}

std::string Base64Of(const std::string& bytes) {
  return Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                      static_cast<int>(bytes.size()));
}

class GalleryTest : public ::testing::Test {
 protected:
  // Loads the lines as a people file; the reports are kept in reports_.
  bool Load(const std::string& text) {
    path_ = dir_.Write("people.txt", text);
    std::string error;
    return gallery_.Load(
        path_, [this](const std::string& line) { reports_.push_back(line); }, &error);
  }

  TempDir dir_;
  std::string path_;
  Gallery gallery_;
  std::vector<std::string> reports_;
};

TEST_F(GalleryTest, EnrolsWellFormedLinesWithQuotesGroupsAndRelativePictures) {
  std::filesystem::copy_file(Data("face-camera-640x480.jpg"), dir_ / "camera.jpg");
  ASSERT_TRUE(
      Load("# visitors of the day\n"
           "\n" +
           Data("face-640x480.jpg") +
           " person=p-1 name=\"Zoë Ångström\" groups=VIP,Employee   # first\n"
           "camera.jpg name=Ann person=p-2\n"
           "\"" +
           Data("face-chelsea-640x480.jpg") + "\" person=\"p 3\" name=\"\" groups=\n"));
  EXPECT_TRUE(reports_.empty()) << reports_.front();
  ASSERT_EQ(3u, gallery_.People().size());
  const Person& first = gallery_.People()[0];
  EXPECT_EQ("p-1", first.id);
  EXPECT_EQ("Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m", first.name);
  EXPECT_THAT(first.groups, ElementsAre("VIP", "Employee"));
  EXPECT_EQ("Ann", gallery_.People()[1].name);
  EXPECT_EQ("", gallery_.People()[2].name);
  EXPECT_TRUE(gallery_.People()[2].groups.empty());
  EXPECT_EQ(&gallery_.People()[2], gallery_.Find("p 3"));
  EXPECT_EQ(nullptr, gallery_.Find("P-1"));
}

TEST_F(GalleryTest, BadLinesAreReportedWithTheirPlaceAndSkipped) {
  const std::string picture = Data("face-640x480.jpg");
  ASSERT_TRUE(Load(picture + " person=a name=A\n" +                 // 1 good
                   picture + " name=B\n" +                          // 2 no person
                   picture + " person=c\n" +                        // 3 no name
                   picture + " person=a name=Again\n" +             // 4 enrolled already
                   picture + " person=e name=E age=3\n" +           // 5 unknown key
                   picture + " person=f name=\"open\n" +            // 6 quote left open
                   picture + " person=g name=\xC3\x28\n" +          // 7 not UTF-8
                   Data("not-a-jpeg.jpg") + " person=h name=H\n" +  // 8 not a picture
                   "missing.jpg person=i name=I\n" +                // 9 no such file
                   picture + " person=j name=J name=K\n" +          // 10 twice
                   picture + " person=k name=K\n"));                // 11 good
  ASSERT_EQ(2u, gallery_.People().size());
  EXPECT_EQ("k", gallery_.People()[1].id);
  ASSERT_EQ(9u, reports_.size());
  for (size_t i = 0; i < reports_.size(); ++i) {
    const int line = static_cast<int>(i) + 2;
    EXPECT_EQ(0u, reports_[i].rfind(path_ + ":" + std::to_string(line) + ": ", 0)) << reports_[i];
    EXPECT_THAT(reports_[i], HasSubstr("(line skipped)"));
  }
  EXPECT_THAT(reports_[2], HasSubstr("enrolled already"));
  EXPECT_THAT(reports_[4], HasSubstr("quote"));
  EXPECT_THAT(reports_[5], HasSubstr("UTF-8"));
  EXPECT_THAT(reports_[7], HasSubstr("missing.jpg"));

  std::string error;
  EXPECT_FALSE(gallery_.Load(
      dir_ / "absent.txt", [](const std::string&) {}, &error));
  EXPECT_THAT(error, HasSubstr("absent.txt"));
}

TEST_F(GalleryTest, IdentifyRanksEveryoneBestFirstAndKeepsEnrolmentOrderOnTies) {
  const std::string me = Data("face-640x480.jpg");
  ASSERT_TRUE(Load(Data("face-camera-640x480.jpg") + " person=other name=O\n" + me +
                   " person=twin-1 name=T\n" + me + " person=twin-2 name=T\n"));
  const Identification seen = gallery_.Identify(Base64Of(ReadFileBytes(me)));
  ASSERT_TRUE(seen.decoded) << seen.problem;
  ASSERT_EQ(3u, seen.ranking.size());
  EXPECT_EQ("twin-1", seen.ranking[0].person->id);
  EXPECT_EQ("twin-2", seen.ranking[1].person->id);
  EXPECT_EQ("other", seen.ranking[2].person->id);
  EXPECT_DOUBLE_EQ(1.0, seen.ranking[0].score);
  EXPECT_LT(seen.ranking[2].score, 0.75);
}

TEST_F(GalleryTest, IdentifyRefusesTextThatIsNotAPaddedBase64Picture) {
  ASSERT_TRUE(Load(Data("face-640x480.jpg") + " person=a name=A\n"));
  const std::string jpeg = Base64Of(ReadFileBytes(Data("face-small.jpg")));
  for (const std::string& text :
       {std::string(), std::string("abc"), "data:image/jpg;base64," + jpeg, jpeg.substr(1),
        jpeg + "\n", jpeg.substr(0, jpeg.size() - 4) + "=AAA",
        Base64Of(ReadFileBytes(Data("not-a-jpeg.jpg"))),
        Base64Of(ReadFileBytes(Data("truncated.jpg")))}) {
    const Identification seen = gallery_.Identify(text);
    EXPECT_FALSE(seen.decoded) << text.substr(0, 40);
    EXPECT_FALSE(seen.problem.empty());
    EXPECT_TRUE(seen.ranking.empty());
  }
  EXPECT_TRUE(gallery_.Identify(jpeg).decoded);
}

}  // namespace
}  // namespace facesim
