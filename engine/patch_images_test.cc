#include "engine/patch_images.h"

#include <gtest/gtest.h>

#include "engine/testing/test_files.h"

namespace ombrix {
namespace {

using testing::EnglishImage;
using testing::NorwegianImage;
using testing::Place;

std::optional<ReplacedRanges> Replace(std::string& bytes) {
  return PatchImages().ReplaceIn(std::span<char>(bytes.data(), bytes.size()));
}

TEST(PatchImagesTest, ReplacesEachImageWhereverItLies) {
  testing::SampleTarget target = testing::MakeSampleTarget();
  std::string bytes = target.unpatched;
  const std::optional<ReplacedRanges> ranges = Replace(bytes);
  ASSERT_TRUE(ranges);
  EXPECT_EQ(*ranges, target.ranges);
  EXPECT_TRUE(testing::SameBytes(bytes, target.patched));
}

TEST(PatchImagesTest, ReplacesOnlyTheFirstOccurrence) {
  std::string bytes = testing::Filler(4096);
  Place(bytes, 100, EnglishImage(0));
  Place(bytes, 1000, EnglishImage(0));
  Place(bytes, 2000, EnglishImage(1));
  Place(bytes, 3000, EnglishImage(2));
  ASSERT_TRUE(Replace(bytes));
  EXPECT_TRUE(testing::SameBytes(bytes.substr(100, 142), NorwegianImage(0)));
  EXPECT_TRUE(testing::SameBytes(bytes.substr(1000, 142), EnglishImage(0)));
}

TEST(PatchImagesTest, MissingImageStopsTheReplacement) {
  std::string bytes = testing::Filler(4096);
  Place(bytes, 100, EnglishImage(0));
  Place(bytes, 1000, EnglishImage(1));
  EXPECT_FALSE(Replace(bytes));
}

TEST(PatchImagesTest, OtherFormsOfTheTextsDoNotMatch) {
  const std::string one_byte(PatchTable[0].english);
  std::string other_blanks = EnglishImage(0);
  other_blanks.erase(0, 2);  // one blank less in front
  other_blanks.append(" \0", 2);
  std::string other_case = EnglishImage(0);
  other_case[2 * 28] = 'w';

  for (const std::string& text : {one_byte, other_blanks, other_case}) {
    std::string bytes = testing::Filler(4096);
    Place(bytes, 100, text);
    Place(bytes, 1000, EnglishImage(1));
    Place(bytes, 2000, EnglishImage(2));
    EXPECT_FALSE(Replace(bytes));
  }
}

TEST(PatchImagesTest, ImagesMayTouchEachOther) {
  std::string bytes = EnglishImage(2) + EnglishImage(0) + EnglishImage(1);
  ASSERT_TRUE(Replace(bytes));
  EXPECT_TRUE(testing::SameBytes(bytes, NorwegianImage(2) + NorwegianImage(0) + NorwegianImage(1)));
}

}  // namespace
}  // namespace ombrix
