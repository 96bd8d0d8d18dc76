#include "engine/search/patch_table.h"

#include <algorithm>

namespace ombrix {
namespace {

constexpr bool IsPrintableAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

constexpr bool PairsAreSound() {
  return std::all_of(PatchTable.begin(), PatchTable.end(), [](const TextPair& pair) {
    return pair.english.size() == pair.norwegian.size() && IsPrintableAscii(pair.english) &&
           IsPrintableAscii(pair.norwegian);
  });
}

// Overwriting an English image with its Norwegian one must never move another byte.
static_assert(PairsAreSound());
static_assert(PatchTable[0].english.size() == 71);
static_assert(PatchTable[1].english.size() == 80);
static_assert(PatchTable[2].english.size() == 15);

}  // namespace

std::string MakeUnicode(std::string_view text) {
  std::string image;
  image.reserve(2 * text.size());
  for (char c : text) {
    image.push_back(c);
    image.push_back('\0');
  }
  return image;
}

}  // namespace ombrix
