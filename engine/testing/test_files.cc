#include "engine/testing/test_files.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "engine/search/patch_images.h"

namespace ombrix::test {

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::ostringstream name;
  name << "ombrix-test-" << stamp << "-" << counter++;
  path_ = std::filesystem::temp_directory_path() / name.str();
  std::filesystem::create_directory(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempFolder::Names() const { return NamesIn(path_); }

namespace {

// The undo records of the tests' writes in place, and of the programs they start, lie in a
// folder of their own, never among this user's.
[[maybe_unused]] const bool kOwnUndoRecords = [] {
  static const TempFolder folder;
  const std::filesystem::path where = folder / "undo";
#ifdef _WIN32
  _wputenv_s(L"OMBRIX_PATCH_STATE_DIR", where.c_str());
#else
  setenv("OMBRIX_PATCH_STATE_DIR", where.c_str(), 1);
#endif
  return true;
}();

}  // namespace

std::vector<std::string> NamesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::u8string name = entry.path().filename().u8string();
    names.emplace_back(name.begin(), name.end());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path.string());
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

::testing::AssertionResult SameBytes(std::string_view actual, std::string_view expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  return ::testing::AssertionFailure()
         << actual.size() << " bytes where " << expected.size()
         << " were expected; they first differ at offset " << (a - actual.begin());
}

std::string EnglishImage(std::size_t index) { return MakeUnicode(PatchTable.at(index).english); }
std::string NorwegianImage(std::size_t index) {
  return MakeUnicode(PatchTable.at(index).norwegian);
}

std::string Filler(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes;
  bytes.reserve(size);
  while (bytes.size() < size) {
    const std::size_t run = 1 + random() % 64;
    switch (random() % 4) {
      case 0:
        bytes.append(run, '\0');
        break;
      case 1:
        for (std::size_t i = 0; i < run; ++i) bytes.append(" ", 2);
        break;
      case 2:  // UTF-16 text, lower-case letters only
        for (std::size_t i = 0; i < run; ++i) {
          bytes.push_back(static_cast<char>('a' + random() % 26));
          bytes.push_back('\0');
        }
        break;
      default:
        for (std::size_t i = 0; i < run; ++i) bytes.push_back(static_cast<char>(random()));
        break;
    }
  }
  bytes.resize(size);
  return bytes;
}

void Place(std::string& bytes, std::uint64_t offset, std::string_view image) {
  assert(offset + image.size() <= bytes.size());
  std::copy(image.begin(), image.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

SampleTarget MakeSampleTarget(std::size_t size, unsigned seed) {
  assert(size >= 4096);
  SampleTarget target{Filler(size, seed), {}, {}};
  // Spread over the file, one of them at an odd offset, and in an order other than the table's.
  const std::size_t offsets[] = {size / 2 + 1, size / 5, size - 64};
  target.patched = target.unpatched;
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    Place(target.unpatched, offsets[i], EnglishImage(i));
    Place(target.patched, offsets[i], NorwegianImage(i));
    target.replacements.push_back({i, offsets[i], TextImage(i, Language::kNorwegian)});
  }
  return target;
}

}  // namespace ombrix::test
