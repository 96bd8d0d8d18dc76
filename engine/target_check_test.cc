#include "engine/target_check.h"

#include <gtest/gtest.h>

#include "engine/patch_run.h"
#include "engine/testing/test_files.h"

namespace ombrix {
namespace {

using testing::EnglishImage;
using testing::NorwegianImage;
using testing::Place;

TargetCheck Check(std::string bytes) { return CheckBytes({bytes.data(), bytes.size()}); }

TEST(CheckBytesTest, TellsTheFourKindsApart) {
  const testing::SampleTarget sample = testing::MakeSampleTarget();
  EXPECT_EQ(Check(sample.unpatched).kind, TargetKind::kUnpatched);
  EXPECT_EQ(Check(sample.patched).kind, TargetKind::kPatched);
  EXPECT_EQ(Check(testing::Filler(4096)).kind, TargetKind::kNotATarget);
  EXPECT_EQ(Check("").kind, TargetKind::kNotATarget);

  std::string half = sample.patched;  // pair 1 undone by hand
  Place(half, sample.replacements[0].offset, EnglishImage(0));
  EXPECT_EQ(Check(half).kind, TargetKind::kPartlyPatched);
  std::string only_english = testing::Filler(4096);  // one English text, nothing else
  Place(only_english, 100, EnglishImage(1));
  EXPECT_EQ(Check(only_english).kind, TargetKind::kPartlyPatched);
}

TEST(CheckBytesTest, NamesTheFirstOffsetOfEachText) {
  std::string bytes = testing::Filler(8192);
  Place(bytes, 101, EnglishImage(0));
  Place(bytes, 2000, EnglishImage(0));
  Place(bytes, 3000, NorwegianImage(0));
  Place(bytes, 4001, EnglishImage(1));
  Place(bytes, 5000, EnglishImage(2));
  const TargetCheck check = Check(bytes);
  EXPECT_EQ(check.kind, TargetKind::kUnpatched);
  EXPECT_EQ(check.pairs[0].english, 101u);
  EXPECT_EQ(check.pairs[0].norwegian, 3000u);
  EXPECT_EQ(check.pairs[1].english, 4001u);
  EXPECT_EQ(check.pairs[1].norwegian, std::nullopt);
  EXPECT_EQ(check.pairs[2].english, 5000u);
}

using CheckTargetTest = testing::TargetTest;

TEST_F(CheckTargetTest, ReadsWithoutWritingAndAnswersInvalidPathsAsARunWould) {
  testing::WriteBytes(target_, sample_.unpatched);
  const auto written = std::filesystem::last_write_time(target_);
  const std::optional<TargetCheck> check = CheckTarget(target_);
  ASSERT_TRUE(check);
  EXPECT_EQ(check->kind, TargetKind::kUnpatched);
  EXPECT_TRUE(testing::SameBytes(testing::ReadBytes(target_), sample_.unpatched));
  EXPECT_EQ(std::filesystem::last_write_time(target_), written);
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"Ombrix.exe"});

  EXPECT_EQ(CheckTarget(folder_ / "missing.exe"), std::nullopt);
  EXPECT_EQ(CheckTarget(folder_.path()), std::nullopt);
}

}  // namespace
}  // namespace ombrix
