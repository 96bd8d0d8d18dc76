#include "engine/search/patch_images.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/testing/reference_patch.h"
#include "engine/testing/test_files.h"

namespace ombrix {
namespace {

using test::EnglishImage;
using test::NorwegianImage;
using test::Place;

// What a run in `direction` would write over `bytes`; `bytes` is left as the run leaves it.
std::optional<Replacements> Replace(std::string& bytes,
                                    PatchDirection direction = PatchDirection::kApply) {
  std::optional<Replacements> replacements = ScanForRun(bytes, direction);
  if (replacements) test::Apply(*replacements, bytes);
  return replacements;
}

TEST(PatchImagesTest, ReplacesEachImageWhereverItLies) {
  test::SampleTarget target = test::MakeSampleTarget();
  std::string bytes = target.unpatched;
  const std::optional<Replacements> replacements = Replace(bytes);
  ASSERT_TRUE(replacements);
  EXPECT_EQ(*replacements, target.replacements);
  EXPECT_TRUE(test::SameBytes(bytes, target.patched));
}

TEST(PatchImagesTest, ReplacesOnlyTheFirstOccurrence) {
  std::string bytes = test::Filler(4096);
  Place(bytes, 100, EnglishImage(0));
  Place(bytes, 1000, EnglishImage(0));
  Place(bytes, 2000, EnglishImage(1));
  Place(bytes, 3000, EnglishImage(2));
  ASSERT_TRUE(Replace(bytes));
  EXPECT_TRUE(test::SameBytes(bytes.substr(100, 142), NorwegianImage(0)));
  EXPECT_TRUE(test::SameBytes(bytes.substr(1000, 142), EnglishImage(0)));
}

TEST(PatchImagesTest, MissingImageStopsTheReplacement) {
  std::string bytes = test::Filler(4096);
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
    std::string bytes = test::Filler(4096);
    Place(bytes, 100, text);
    Place(bytes, 1000, EnglishImage(1));
    Place(bytes, 2000, EnglishImage(2));
    EXPECT_FALSE(Replace(bytes));
  }
}

TEST(PatchImagesTest, ImagesMayTouchEachOther) {
  std::string bytes = EnglishImage(2) + EnglishImage(0) + EnglishImage(1);
  ASSERT_TRUE(Replace(bytes));
  EXPECT_TRUE(test::SameBytes(bytes, NorwegianImage(2) + NorwegianImage(0) + NorwegianImage(1)));
}

TEST(PatchImagesTest, RestoreTurnsBackWhatIsThereAndNeedsAFileAPatchCanComplete) {
  const test::SampleTarget sample = test::MakeSampleTarget();
  std::string partly = sample.patched;  // as an interrupted overwrite in place leaves it
  Place(partly, sample.replacements[1].offset, EnglishImage(1));
  Place(partly, sample.replacements[2].offset, EnglishImage(2));
  const std::optional<Replacements> restored = Replace(partly, PatchDirection::kRestore);
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->size(), 1u);
  EXPECT_TRUE(test::SameBytes(partly, sample.unpatched));

  std::string unpatched = sample.unpatched;  // nothing to turn back
  EXPECT_FALSE(Replace(unpatched, PatchDirection::kRestore));
  std::string lacking = sample.patched;  // a Norwegian text, and then no English one
  Place(lacking, sample.replacements[2].offset, std::string(30, 'x'));
  EXPECT_FALSE(Replace(lacking, PatchDirection::kRestore));
}

// Random buffers of whole, cut and overlapping images, in both directions, read in parts of
// random sizes down to one byte: always what the plain definition gives.
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
    const std::string original = test::BufferFromRecipe(recipe);
    for (const auto direction : {PatchDirection::kApply, PatchDirection::kRestore}) {
      std::string expected = original;
      const auto expected_replacements = test::ReferenceRun(expected, direction);
      const std::size_t part = round % 2 == 0 ? 1 + random() % 8 : 1 + random() % 400;
      const auto replacements = ScanForRun(original, direction, part);

      ASSERT_EQ(replacements, expected_replacements) << "round " << round << ", part " << part;
      if (replacements) {
        std::string written = original;
        test::Apply(*replacements, written);
        ASSERT_TRUE(test::SameBytes(written, expected)) << "round " << round;
      }
    }
  }
}

}  // namespace
}  // namespace ombrix
