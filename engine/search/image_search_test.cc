#include "engine/search/image_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "engine/search/patch_table.h"
#include "engine/testing/reference_patch.h"

namespace ombrix {
namespace {

std::optional<std::size_t> Find(std::string_view needle, std::string_view haystack) {
  return ImageSearcher(needle).FindIn(std::span<const char>(haystack.data(), haystack.size()));
}

TEST(ImageSearcherTest, FindsTheLowestOffsetAtAnyAlignment) {
  const std::string needle("W\0o\0r\0k\0", 8);
  for (std::size_t offset = 0; offset < 5; ++offset) {
    const std::string haystack = std::string(offset, '\0') + needle + "xx" + needle;
    EXPECT_EQ(Find(needle, haystack), offset);
  }
}

TEST(ImageSearcherTest, FindsAMatchThatEndsTheBuffer) {
  EXPECT_EQ(Find("ab", "xxxab"), 3u);
  EXPECT_EQ(Find("ab", "ab"), 0u);
}

TEST(ImageSearcherTest, FindsOverlappingRepetitionsAtTheirFirstStart) {
  EXPECT_EQ(Find(std::string(" \0 \0 \0", 6), std::string("\0 \0 \0 \0 \0", 9)), 1u);
}

TEST(ImageSearcherTest, ReportsAbsence) {
  EXPECT_EQ(Find("abc", ""), std::nullopt);
  EXPECT_EQ(Find("abc", "ab"), std::nullopt);
  EXPECT_EQ(Find("abc", "abdabCab"), std::nullopt);
}

TEST(ImageSearcherTest, AgreesWithThePlainDefinitionOnNearMisses) {
  std::mt19937 random(7);
  const std::string image = MakeUnicode(PatchTable[2].english);  // "English        "
  for (int round = 0; round < 3000; ++round) {
    // Pieces of the needle, some with one byte changed, among bytes of a small alphabet.
    std::string haystack;
    while (haystack.size() < 400) {
      std::string piece = image.substr(random() % image.size());
      if (random() % 2 == 0) piece[random() % piece.size()] ^= 1;
      haystack += piece + std::string(random() % 5, "E\0h "[random() % 4]);
    }
    if (random() % 3 == 0) haystack.insert(random() % haystack.size(), image);
    ASSERT_EQ(Find(image, haystack), test::ReferenceFind(image, haystack)) << "round " << round;
  }
}

TEST(ImageSearcherTest, BufferBuiltToDefeatTheAnchorsIsStillSearchedRight) {
  // Half of all start offsets agree with the needle on its two rarest bytes ("W" and "J"),
  // so comparing the whole needle at each would take quadratic time; the search falls back to
  // Boyer-Moore and still finds the one real match.
  const std::string needle = MakeUnicode(PatchTable[0].english);
  const std::size_t w = needle.find('W');
  const std::size_t j = needle.rfind('J');
  const std::size_t period = 2 * (j - w);
  std::string haystack(std::size_t{1} << 20, '\0');
  for (std::size_t i = 0; i < haystack.size(); ++i) {
    haystack[i] = (i + period - w % period) % period < j - w ? 'W' : 'J';
  }
  const std::size_t at = haystack.size() - 1001;
  EXPECT_EQ(Find(needle, haystack), std::nullopt);
  haystack.replace(at, needle.size(), needle);
  EXPECT_EQ(Find(needle, haystack), at);
}

}  // namespace
}  // namespace ombrix
