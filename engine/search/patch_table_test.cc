#include "engine/search/patch_table.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace ombrix {
namespace {

// The texts with their blanks counted out, so that a stray blank in the table shows.
std::string Text(std::size_t blanks_before, std::string_view words, std::size_t blanks_after) {
  return std::string(blanks_before, ' ') + std::string(words) + std::string(blanks_after, ' ');
}

TEST(PatchTableTest, HoldsTheThreePairsInOrderWithTheirBlanks) {
  EXPECT_EQ(PatchTable[0].english, Text(28, "Work with Submitted Jobs", 19));
  EXPECT_EQ(PatchTable[0].norwegian, Text(24, "Arbeide med jobber som er sendt", 16));
  EXPECT_EQ(PatchTable[1].english, Text(29, "Display Module Source", 30));
  EXPECT_EQ(PatchTable[1].norwegian, Text(32, "Vise modulkilde", 33));
  EXPECT_EQ(PatchTable[2].english, Text(0, "English", 8));
  EXPECT_EQ(PatchTable[2].norwegian, Text(0, "Norwegian", 6));
}

TEST(MakeUnicodeTest, EmptyTextGivesEmptyImage) { EXPECT_EQ(MakeUnicode(""), ""); }

TEST(MakeUnicodeTest, EachCharacterIsFollowedByAZeroByte) {
  EXPECT_EQ(MakeUnicode("abc"), std::string("a\0b\0c\0", 6));
}

TEST(MakeUnicodeTest, ImageOfEnglishThree) {
  const std::string image = MakeUnicode(PatchTable[2].english);
  ASSERT_EQ(image.size(), 30u);
  EXPECT_EQ(image.substr(0, 6), std::string("E\0n\0g\0", 6));
  std::string blanks;
  for (int i = 0; i < 8; ++i) blanks.append(" \0", 2);
  EXPECT_EQ(image.substr(14), blanks);
}

TEST(MakeUnicodeTest, ImagesOfEachPairHaveEqualLength) {
  const std::size_t expected[] = {142, 160, 30};
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    EXPECT_EQ(MakeUnicode(PatchTable[i].english).size(), expected[i]) << "pair " << i + 1;
    EXPECT_EQ(MakeUnicode(PatchTable[i].norwegian).size(), expected[i]) << "pair " << i + 1;
  }
}

}  // namespace
}  // namespace ombrix
