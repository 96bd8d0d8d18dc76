#include "engine/patch_images.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/testing/reference_patch.h"
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

// Random buffers of whole, cut and overlapping images, in both directions, searched whole and
// while they fill in parts of random sizes: always what the plain definition gives.
TEST(PatchImagesTest, AgreesWithThePlainDefinitionHoweverTheBufferIsRead) {
  std::mt19937 random(11);
  for (int round = 0; round < 4000; ++round) {
    std::vector<unsigned char> recipe;
    for (std::size_t length = random() % 24; recipe.size() < length;) {
      const unsigned pick = random() % 16;
      if (pick < 6) {
        recipe.push_back(static_cast<unsigned char>(0xF0 + pick));
      } else if (pick < 9) {  // cut the next image at the start or the end, by a few blanks
        recipe.push_back(pick == 6 ? 0xF6 : 0xF7);
        recipe.push_back(static_cast<unsigned char>(2 * (random() % 40)));
      } else {
        recipe.push_back(static_cast<unsigned char>("\0 Eg"[pick % 4]));
      }
    }
    const std::string original = testing::BufferFromRecipe(recipe);
    for (const auto direction : {PatchDirection::kApply, PatchDirection::kRestore}) {
      std::string expected = original;
      const auto expected_ranges =
          testing::ReferenceReplace({expected.data(), expected.size()}, direction);
      const PatchImages images(direction);

      std::string whole = original;
      const auto whole_ranges = images.ReplaceIn({whole.data(), whole.size()});
      std::string parts = original;
      OccurrenceScan scan(images);
      for (std::size_t filled = 0; filled < parts.size();) {
        filled = std::min(parts.size(), filled + 1 + random() % 200);
        scan.Scan({parts.data(), filled});
      }
      const auto parts_ranges = images.ReplaceIn({parts.data(), parts.size()}, scan.occurrences());

      ASSERT_EQ(whole_ranges, expected_ranges) << "round " << round;
      ASSERT_EQ(parts_ranges, expected_ranges) << "round " << round;
      if (expected_ranges) {
        ASSERT_TRUE(testing::SameBytes(whole, expected));
        ASSERT_TRUE(testing::SameBytes(parts, expected));
      }
    }
  }
}

}  // namespace
}  // namespace ombrix
