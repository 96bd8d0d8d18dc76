#include "engine/run/target_check.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/run/patch_run.h"
#include "engine/testing/reference_patch.h"
#include "engine/testing/test_files.h"

namespace ombrix {
namespace {

using test::EnglishImage;
using test::NorwegianImage;
using test::Place;

TargetCheck Check(std::string bytes) { return CheckBytes({bytes.data(), bytes.size()}); }

TEST(CheckBytesTest, TellsTheKindsApartAndWhyAPatchWouldNotComplete) {
  const test::SampleTarget sample = test::MakeSampleTarget();
  EXPECT_EQ(Check(sample.unpatched).kind, TargetKind::kUnpatched);
  EXPECT_EQ(Check(sample.patched).kind, TargetKind::kPatched);
  EXPECT_EQ(Check(test::Filler(4096)).kind, TargetKind::kNotATarget);
  EXPECT_EQ(Check("").kind, TargetKind::kNotATarget);

  std::string half = sample.patched;  // pair 1 undone by hand
  Place(half, sample.replacements[0].offset, EnglishImage(0));
  const TargetCheck partly = Check(half);
  EXPECT_EQ(partly.kind, TargetKind::kPartlyPatched);
  EXPECT_TRUE(partly.restorable);

  std::string english_1_and_3 = test::Filler(4096);  // and no text 2 in either language
  Place(english_1_and_3, 100, EnglishImage(0));
  Place(english_1_and_3, 1000, EnglishImage(2));
  const TargetCheck lacking = Check(english_1_and_3);
  EXPECT_EQ(lacking.kind, TargetKind::kNotExpected);
  EXPECT_EQ(lacking.missing, 1u);

  // Text 2's leading blanks are text 1's trailing ones: all three English texts are there, but
  // replacing text 1 breaks text 2.
  const std::string first = EnglishImage(0);
  const std::string second = EnglishImage(1);
  std::string overlapping = first + second.substr(38) + EnglishImage(2);
  const TargetCheck overlap = Check(overlapping);
  EXPECT_EQ(overlap.kind, TargetKind::kNotExpected);
  EXPECT_EQ(overlap.missing, std::nullopt);
  EXPECT_EQ(overlap.overlapped, 1u);
  EXPECT_EQ(overlap.overlapped_by, 0u);
}

// Random files of whole, cut and overlapping texts, checked whole and in parts: every verdict
// agrees with what the plain definition of a run does with the same bytes.
TEST(CheckBytesTest, VerdictsAgreeWithWhatARunWouldDo) {
  std::mt19937 random(13);
  for (int round = 0; round < 3000; ++round) {
    std::vector<unsigned char> recipe;
    for (std::size_t length = random() % 16; recipe.size() < length;) {
      const auto pick = static_cast<unsigned>(random() % 12);
      if (pick < 6) {
        recipe.push_back(static_cast<unsigned char>(0xF0 + pick));
      } else if (pick < 8) {
        recipe.push_back(pick == 6 ? 0xF6 : 0xF7);
        recipe.push_back(static_cast<unsigned char>(2 * (random() % 40)));
      } else {
        recipe.push_back(static_cast<unsigned char>("\0 Eg"[pick % 4]));
      }
    }
    const std::string bytes = test::BufferFromRecipe(recipe);
    const TargetCheck check = CheckBytes(bytes, 1 + random() % 300);
    std::string patched = bytes;
    std::string restored = bytes;
    const bool patch = test::ReferenceRun(patched, PatchDirection::kApply).has_value();
    const bool restore = test::ReferenceRun(restored, PatchDirection::kRestore).has_value();
    int english = 0;
    int norwegian = 0;
    for (std::size_t i = 0; i < PatchTable.size(); ++i) {
      const auto e = test::ReferenceFind(EnglishImage(i), bytes);
      const auto n = test::ReferenceFind(NorwegianImage(i), bytes);
      ASSERT_EQ(check.pairs[i].english, e) << "round " << round;
      ASSERT_EQ(check.pairs[i].norwegian, n) << "round " << round;
      english += e.has_value();
      norwegian += n.has_value();
    }
    const std::string where = "round " + std::to_string(round);
    ASSERT_EQ(check.kind == TargetKind::kUnpatched, patch) << where;
    ASSERT_EQ(check.restorable, restore) << where;
    switch (check.kind) {
      case TargetKind::kPatched:
        ASSERT_TRUE(english == 0 && norwegian == 3) << where;
        break;
      case TargetKind::kNotATarget:
        ASSERT_TRUE(english == 0 && norwegian == 0) << where;
        break;
      case TargetKind::kPartlyPatched:
        ASSERT_TRUE(english > 0 && norwegian > 0) << where;
        break;
      case TargetKind::kNotExpected:
        ASSERT_FALSE(restore) << where;
        ASSERT_TRUE(check.missing || check.overlapped) << where;
        break;
      case TargetKind::kUnpatched:
        break;
    }
  }
}

// A restore turns back only what a patch can have written: where a text's Norwegian image is
// there twice (a list of languages, patched), or its English image lies before the Norwegian
// one, it cannot tell which place a patch wrote, and changes nothing.
TEST(CheckBytesTest, RestoreThatCannotTellWhichPlaceAPatchWroteIsNoRestore) {
  const test::SampleTarget sample = test::MakeSampleTarget();
  const std::uint64_t text_1 = sample.replacements[0].offset;
  std::string listed = sample.patched;  // Norwegian 1 also near the start, as in a list
  Place(listed, 10, NorwegianImage(0));
  std::string english_first = sample.patched;
  Place(english_first, 10, EnglishImage(0));
  const struct {
    std::string bytes;
    std::optional<RestoreAmbiguity> ambiguous;
  } cases[] = {
      {listed, RestoreAmbiguity{0, 10, text_1}},
      {english_first, RestoreAmbiguity{0, 10, text_1}},
      {sample.patched, std::nullopt},
  };
  for (const auto& [bytes, ambiguous] : cases) {
    const TargetCheck check = Check(bytes);
    EXPECT_EQ(check.ambiguous, ambiguous);
    EXPECT_EQ(check.restorable, !ambiguous);
    std::string restored = bytes;
    EXPECT_EQ(ScanForRun(restored, PatchDirection::kRestore).has_value(), !ambiguous);
  }
}

TEST(CheckBytesTest, NamesTheFirstOffsetOfEachText) {
  std::string bytes = test::Filler(8192);
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

// Sparse files as a run and a check meet them: of each hole only the edges that an image could
// share are read, and the texts at a hole's edges and between holes are found all the same.
TEST(HolesTest, SkippingHolesFindsWhatReadingEveryByteFinds) {
  struct Layout {
    const char* name;
    std::size_t size;                                        // zero bytes, but for the texts
    std::vector<std::pair<std::size_t, std::string>> texts;  // where each lies
    std::vector<Stretch> holes;
    bool completes;  // whether the run in the layout's direction completes
    PatchDirection direction = PatchDirection::kApply;
  };
  const Layout layouts[] = {
      {"texts at both edges of a hole",
       16384,
       {{4096 - 141, EnglishImage(0)}, {12288, EnglishImage(1)}, {14001, EnglishImage(2)}},
       {{4096, 12288}},
       true},
      {"texts split by holes, each ending in the next one",
       16384,
       {{100, EnglishImage(0)}, {5000, EnglishImage(1)}, {9000, EnglishImage(2)}},
       {{241, 5000}, {5159, 9000}, {9029, 16384}},
       true},
      {"holes of one, two and three bytes inside and after texts",
       8192,
       {{1001, EnglishImage(0)}, {2000, EnglishImage(1)}, {3000, EnglishImage(2)}},
       {{1002, 1003}, {2159, 2161}, {3029, 3032}},
       true},
      {"touching holes at both ends, Norwegian texts at their edges",
       16384,
       {{4096, NorwegianImage(0)}, {8000, NorwegianImage(1)}, {12288 - 29, NorwegianImage(2)}},
       {{0, 2048}, {2048, 4096}, {12288, 16384}},
       true,
       PatchDirection::kRestore},
      {"a file that is all hole", 16384, {}, {{0, 16384}}, false},
      {"an empty file", 0, {}, {}, false},
  };
  for (const Layout& layout : layouts) {
    std::string bytes(layout.size, '\0');
    for (const auto& [at, text] : layout.texts) Place(bytes, at, text);
    for (const Stretch& hole : layout.holes) {
      ASSERT_EQ(bytes.find_first_not_of('\0', static_cast<std::size_t>(hole.start)),
                bytes.find_first_not_of('\0', static_cast<std::size_t>(hole.end)))
          << layout.name << ": a hole holds zero bytes only";
    }
    for (const std::size_t part : {std::size_t{1}, std::size_t{7}, std::size_t{5000}}) {
      const std::string where = std::string(layout.name) + ", part " + std::to_string(part);
      const auto run = ScanForRun(bytes, layout.direction, part, layout.holes);
      EXPECT_EQ(run, ScanForRun(bytes, layout.direction, part)) << where;
      EXPECT_EQ(run.has_value(), layout.completes) << where;
      const TargetCheck skipped = CheckBytes(PatchImages(), bytes, part, layout.holes);
      const TargetCheck every = CheckBytes(bytes, part);
      for (std::size_t i = 0; i < PatchTable.size(); ++i) {
        EXPECT_EQ(skipped.pairs[i].english, every.pairs[i].english) << where;
        EXPECT_EQ(skipped.pairs[i].norwegian, every.pairs[i].norwegian) << where;
      }
      EXPECT_EQ(skipped.kind, every.kind) << where;
      EXPECT_EQ(skipped.restorable, every.restorable) << where;
    }
  }
}

using CheckTargetTest = test::TargetTest;

TEST_F(CheckTargetTest, ReadsWithoutWritingAndAnswersInvalidPathsAsARunWould) {
  test::WriteBytes(target_, sample_.unpatched);
  const auto written = std::filesystem::last_write_time(target_);
  const std::optional<TargetCheck> check = CheckTarget(target_);
  ASSERT_TRUE(check);
  EXPECT_EQ(check->kind, TargetKind::kUnpatched);
  EXPECT_TRUE(test::SameBytes(test::ReadBytes(target_), sample_.unpatched));
  EXPECT_EQ(std::filesystem::last_write_time(target_), written);
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"Ombrix.exe"});

  EXPECT_EQ(CheckTarget(folder_ / "missing.exe"), std::nullopt);
  EXPECT_EQ(CheckTarget(folder_.path()), std::nullopt);
}

// A write in place cut short leaves a text whose bytes are each the English or the Norwegian
// image's byte there: the check calls it partly patched and names it, a run finishes the patch,
// and a restore turns the file back. A byte that is neither image's is no torn text.
TEST_F(CheckTargetTest, TextCutShortByAWriteInPlaceIsFinishedEitherWay) {
  // The sample's bytes with the first `bytes` bytes of text `pair` taken from `from`.
  const auto torn = [&](const std::string& into, const std::string& from, std::size_t pair,
                        std::size_t bytes) {
    std::string out = into;
    const auto at = static_cast<std::size_t>(sample_.replacements[pair].offset);
    out.replace(at, bytes, from, at, bytes);
    return out;
  };
  const auto half = [&](std::size_t pair) { return sample_.replacements[pair].image.size() / 2; };
  std::string stray = torn(sample_.unpatched, sample_.patched, 1, half(1));
  stray[static_cast<std::size_t>(sample_.replacements[1].offset) + 3] = '\x7f';
  const struct {
    std::string bytes;
    std::optional<TornText> text;
  } cases[] = {
      {torn(sample_.unpatched, sample_.patched, 0, half(0)),
       TornText{0, sample_.replacements[0].offset}},
      {torn(torn(sample_.unpatched, sample_.patched, 0, sample_.replacements[0].image.size()),
            sample_.patched, 1, half(1)),
       TornText{1, sample_.replacements[1].offset}},
      {torn(sample_.patched, sample_.unpatched, 2, half(2)),
       TornText{2, sample_.replacements[2].offset}},
      {stray, std::nullopt},
  };
  for (const auto& [bytes, text] : cases) {
    test::WriteBytes(target_, bytes);
    const std::optional<TargetCheck> check = CheckTarget(target_);
    ASSERT_TRUE(check);
    EXPECT_EQ(check->torn, text);
    if (!text) continue;
    EXPECT_EQ(check->kind, TargetKind::kPartlyPatched);
    EXPECT_TRUE(check->restorable);
    EXPECT_EQ(RunPatch(target_, PatchDirection::kApply), PatchOutcome::Completed);
    EXPECT_TRUE(test::SameBytes(test::ReadBytes(target_), sample_.patched));
    test::WriteBytes(target_, bytes);
    EXPECT_EQ(RunPatch(target_, PatchDirection::kRestore), PatchOutcome::Completed);
    EXPECT_TRUE(test::SameBytes(test::ReadBytes(target_), sample_.unpatched));
  }
  // Beside a whole image of its pair elsewhere, no run can tell which place the write was
  // making: the file is left as it is.
  std::string beside = torn(sample_.unpatched, sample_.patched, 2, half(2));
  Place(beside, 10, NorwegianImage(2));
  test::WriteBytes(target_, beside);
  EXPECT_FALSE(CheckTarget(target_)->restorable);
  EXPECT_EQ(RunPatch(target_, PatchDirection::kApply), PatchOutcome::NotApplicable);
  EXPECT_TRUE(test::SameBytes(test::ReadBytes(target_), beside));
}

}  // namespace
}  // namespace ombrix
