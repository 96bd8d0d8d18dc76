// The byte images of one run and their replacement inside a buffer: pair by pair, in table
// order, the first occurrence of each English image is overwritten by its Norwegian image.
#ifndef OMBRIX_ENGINE_PATCH_IMAGES_H_
#define OMBRIX_ENGINE_PATCH_IMAGES_H_

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "engine/image_search.h"
#include "engine/patch_table.h"

namespace ombrix {

// A range of bytes in a buffer or a file.
struct ByteRange {
  std::size_t offset = 0;
  std::size_t length = 0;
  friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

using ReplacedRanges = std::array<ByteRange, PatchTable.size()>;

// The images of every pair of PatchTable, made with MakeUnicode, with a searcher for each
// English image. Built once at the start of a run and used for the rest of it.
class PatchImages {
 public:
  PatchImages();

  // Overwrites, for each pair in table order, the first occurrence of its English image in
  // `buffer` (as changed by the pairs before it) with its Norwegian image. Returns the three
  // overwritten ranges, or std::nullopt as soon as an English image is missing; `buffer` then
  // holds the replacements of the pairs before it and is to be discarded.
  std::optional<ReplacedRanges> ReplaceIn(std::span<char> buffer) const;

 private:
  struct Pair {
    explicit Pair(const TextPair& texts);
    ImageSearcher english;
    std::string norwegian;
  };
  std::array<std::unique_ptr<const Pair>, PatchTable.size()> pairs_;
};

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PATCH_IMAGES_H_
