#include "engine/patch_images.h"

#include <algorithm>
#include <cassert>

namespace ombrix {

PatchImages::Pair::Pair(const TextPair& texts)
    : english(MakeUnicode(texts.english)), norwegian(MakeUnicode(texts.norwegian)) {
  assert(english.size() == norwegian.size());
}

PatchImages::PatchImages() {
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    pairs_[i] = std::make_unique<const Pair>(PatchTable[i]);
  }
}

std::optional<ReplacedRanges> PatchImages::ReplaceIn(std::span<char> buffer) const {
  ReplacedRanges ranges;
  for (std::size_t i = 0; i < pairs_.size(); ++i) {
    const Pair& pair = *pairs_[i];
    const std::optional<std::size_t> offset = pair.english.FindIn(buffer);
    if (!offset) return std::nullopt;
    std::copy(pair.norwegian.begin(), pair.norwegian.end(), buffer.begin() + *offset);
    ranges[i] = {*offset, pair.norwegian.size()};
  }
  return ranges;
}

}  // namespace ombrix
