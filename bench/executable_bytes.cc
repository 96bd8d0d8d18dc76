#include "bench/executable_bytes.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/search/patch_table.h"

namespace ombrix::bench {
namespace {

// splitmix64: fast, and good enough for filler.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }

 private:
  std::uint64_t state_;
};

constexpr std::size_t kBlock = 4096;

void RandomBytes(std::span<char> block, Random& random) {
  for (std::size_t i = 0; i < block.size(); i += 8) {
    const std::uint64_t word = random.Next();
    std::memcpy(block.data() + i, &word, std::min<std::size_t>(8, block.size() - i));
  }
}

// UTF-16 words of letters, as a program's resources hold them, between blanks.
void Utf16Words(std::span<char> block, Random& random) {
  static constexpr char kLetters[] = "etaoinshrdlucmfwypvbgkjqxzETAOINSHRDLUCMFWYPVBGKJQXZ";
  for (std::size_t i = 0; i + 1 < block.size(); i += 2) {
    const std::uint64_t pick = random.Next();
    block[i] = pick % 7 == 0 ? ' ' : kLetters[(pick >> 8) % (sizeof(kLetters) - 1)];
    block[i + 1] = '\0';
  }
}

}  // namespace

void FillExecutableLike(std::span<char> bytes, std::uint64_t seed) {
  Random random(seed);
  for (std::size_t offset = 0; offset < bytes.size(); offset += kBlock) {
    const std::span<char> block = bytes.subspan(offset, std::min(kBlock, bytes.size() - offset));
    switch (random.Next() % 20) {
      case 0:
      case 1:
      case 2:
      case 3:
      case 4:
      case 5:
        std::fill(block.begin(), block.end(), '\0');
        break;
      case 6:
      case 7:
      case 8:
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = i % 2 == 0 ? ' ' : '\0';
        break;
      case 9:
      case 10:
      case 11:
      case 12:
        Utf16Words(block, random);
        break;
      default:
        RandomBytes(block, random);
        break;
    }
  }
}

std::array<std::uint64_t, PatchTable.size()> PlaceEnglishImagesNearTheEnd(std::span<char> bytes) {
  assert(bytes.size() >= 64 * 1024);
  const std::array<std::uint64_t, PatchTable.size()> offsets = {
      bytes.size() - 60001, bytes.size() - 40000, bytes.size() - 20000};
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    const std::string image = MakeUnicode(PatchTable[i].english);
    std::copy(image.begin(), image.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offsets[i]));
  }
  return offsets;
}

}  // namespace ombrix::bench
