#include "engine/platform/copy_name.h"

#include <gtest/gtest.h>

#include <string>

namespace ombrix {
namespace {

// Whether a name holds whole characters only: no UTF-8 sequence cut short, no half of a
// UTF-16 surrogate pair alone.
[[maybe_unused]] bool WholeCharacters(const std::string& name) {
  for (std::size_t i = 0; i < name.size();) {
    const auto lead = static_cast<unsigned char>(name[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead >= 0x80 && lead < 0xC0) return false;
    if (i + length > name.size()) return false;
    for (std::size_t j = 1; j < length; ++j) {
      if ((static_cast<unsigned char>(name[i + j]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}
[[maybe_unused]] bool WholeCharacters(const std::wstring& name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const bool high = name[i] >= 0xD800 && name[i] <= 0xDBFF;
    const bool low = name[i] >= 0xDC00 && name[i] <= 0xDFFF;
    if (low) return false;
    if (high && (i + 1 == name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF)) {
      return false;
    }
    if (high) ++i;
  }
  return true;
}

TEST(NewCopyNameTest, LongNameIsShortenedAtTheStartOfACharacter) {
  // Norwegian letters, then a character outside the Basic Multilingual Plane, over and over:
  // two, three and four bytes of UTF-8, one and two units of UTF-16.
  std::u8string name = u8"x";  // so that both cuts fall inside a character
  for (int i = 0; i < 60; ++i) name += u8"æ€𝄞";
  const std::filesystem::path copy = NewCopyName(std::filesystem::path("folder") / name);
  EXPECT_EQ(copy.parent_path(), "folder");
  EXPECT_TRUE(WholeCharacters(copy.filename().native()));
  EXPECT_LT(copy.filename().native().size(), 230u);
  EXPECT_EQ(copy.extension(), ".tmp");
}

}  // namespace
}  // namespace ombrix
