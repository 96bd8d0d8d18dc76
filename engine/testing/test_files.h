// Files for tests: a temporary folder per test, whole-file reads and writes, and sample
// targets built from executable-like filler and the patch's images.
#ifndef OMBRIX_ENGINE_TESTING_TEST_FILES_H_
#define OMBRIX_ENGINE_TESTING_TEST_FILES_H_

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/search/patch_images.h"

namespace ombrix::test {

// A new, empty folder, removed with all it holds when this object is destroyed.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }
  // The names in the folder, sorted.
  std::vector<std::string> Names() const;

 private:
  std::filesystem::path path_;
};

// The names in `folder`, sorted.
std::vector<std::string> NamesIn(const std::filesystem::path& folder);

std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, std::string_view bytes);

// Whether two byte strings are equal; when not, says where they first differ instead of
// printing them whole: EXPECT_TRUE(SameBytes(ReadBytes(path), expected)).
::testing::AssertionResult SameBytes(std::string_view actual, std::string_view expected);

// The image of the English or Norwegian text of pair `index` (0, 1 or 2) of PatchTable.
std::string EnglishImage(std::size_t index);
std::string NorwegianImage(std::size_t index);

// `size` bytes like those of an executable: runs of zeros, blank pairs, UTF-16 words and
// random bytes; the same `seed` gives the same bytes. Holds no image of the patch.
std::string Filler(std::size_t size, unsigned seed = 1);

// Overwrites `bytes` with `image` from `offset` on. REQUIRES: it fits.
void Place(std::string& bytes, std::uint64_t offset, std::string_view image);

// A target as it is before and after a completed run.
struct SampleTarget {
  std::string unpatched;      // filler with the three English images, one at an odd offset
  std::string patched;        // the same with the three Norwegian images in their place
  Replacements replacements;  // what a patch writes
};
SampleTarget MakeSampleTarget(std::size_t size = 64 * 1024, unsigned seed = 1);

// A test with a folder of its own, the path of a target in it (not created) and a sample.
class TargetTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  const std::filesystem::path target_ = folder_ / "Ombrix.exe";
  const SampleTarget sample_ = MakeSampleTarget();
};

}  // namespace ombrix::test

#endif  // OMBRIX_ENGINE_TESTING_TEST_FILES_H_
