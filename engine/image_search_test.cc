#include "engine/image_search.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace ombrix
