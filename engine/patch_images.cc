#include "engine/patch_images.h"

#include <algorithm>
#include <cassert>

namespace ombrix {

PatchImages::Pair::Pair(std::string_view from_text, std::string_view to_text)
    : from(MakeUnicode(from_text)), to(MakeUnicode(to_text)) {
  assert(from.size() == to.size());
}

PatchImages::PatchImages(PatchDirection direction) {
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    const TextPair& texts = PatchTable[i];
    pairs_[i] = direction == PatchDirection::kApply
                    ? std::make_unique<const Pair>(texts.english, texts.norwegian)
                    : std::make_unique<const Pair>(texts.norwegian, texts.english);
  }
}

std::optional<ReplacedRanges> PatchImages::ReplaceIn(std::span<char> buffer) const {
  ReplacedRanges ranges;
  for (std::size_t i = 0; i < pairs_.size(); ++i) {
    const Pair& pair = *pairs_[i];
    const std::optional<std::size_t> offset = pair.from.FindIn(buffer);
    if (!offset) return std::nullopt;
    std::copy(pair.to.begin(), pair.to.end(), buffer.begin() + *offset);
    ranges[i] = {*offset, pair.to.size()};
  }
  return ranges;
}

}  // namespace ombrix
