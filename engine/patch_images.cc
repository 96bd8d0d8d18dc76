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
  OccurrenceScan scan(*this);
  scan.Scan(buffer);
  return ReplaceIn(buffer, scan.occurrences());
}

std::optional<ReplacedRanges> PatchImages::ReplaceIn(std::span<char> buffer,
                                                     const FirstOccurrences& occurrences) const {
  ReplacedRanges ranges;
  for (std::size_t i = 0; i < pairs_.size(); ++i) {
    const Pair& pair = *pairs_[i];
    const std::optional<std::size_t> offset =
        FirstAfterReplacements(buffer, i, occurrences[i], std::span(ranges).first(i));
    if (!offset) return std::nullopt;
    std::copy(pair.to.begin(), pair.to.end(),
              buffer.begin() + static_cast<std::ptrdiff_t>(*offset));
    ranges[i] = {*offset, pair.to.size()};
  }
  return ranges;
}

// An occurrence in the buffer as it is now either overlaps a replaced range (and lies within
// the image's length around it) or is an occurrence of the original buffer that no replacement
// touched. The first of the latter is `in_original` unless a replacement touched that one.
std::optional<std::size_t> PatchImages::FirstAfterReplacements(
    std::span<const char> buffer, std::size_t index, std::optional<std::size_t> in_original,
    std::span<const ByteRange> replaced) const {
  const ImageSearcher& searcher = pairs_[index]->from;
  const std::size_t size = searcher.size();
  std::optional<std::size_t> first;
  const auto consider = [&](std::size_t from, std::size_t to) {  // occurrences within [from, to)
    to = std::min(to, buffer.size());
    if (from >= to) return;
    const std::optional<std::size_t> found = searcher.FindIn(buffer.subspan(from, to - from));
    if (found && (!first || from + *found < *first)) first = from + *found;
  };
  const auto touched = [&](std::size_t offset) {
    return std::any_of(replaced.begin(), replaced.end(), [&](const ByteRange& range) {
      return offset < range.offset + range.length && range.offset < offset + size;
    });
  };

  if (in_original && !touched(*in_original)) {
    first = in_original;
  } else if (in_original) {
    consider(*in_original + 1, buffer.size());  // the next one of the original is not known
  }
  for (const ByteRange& range : replaced) {
    consider(range.offset >= size ? range.offset - size + 1 : 0,
             range.offset + range.length + size - 1);
  }
  return first;
}

void OccurrenceScan::Scan(std::span<const char> filled) {
  for (std::size_t i = 0; i < occurrences_.size(); ++i) {
    if (occurrences_[i]) continue;
    const ImageSearcher& searcher = images_.searcher(i);
    // An occurrence may end among the new bytes and begin among those already seen.
    const std::size_t from = seen_ >= searcher.size() ? seen_ - searcher.size() + 1 : 0;
    if (from >= filled.size()) continue;
    if (const std::optional<std::size_t> found = searcher.FindIn(filled.subspan(from))) {
      occurrences_[i] = from + *found;
    }
  }
  seen_ = filled.size();
}

}  // namespace ombrix
