// The byte images of one run and their replacement inside a buffer: pair by pair, in table
// order, the first occurrence of each English image is overwritten by its Norwegian image (or,
// to undo a patch, each Norwegian image by its English image).
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

// Which way a run turns the texts: English into Norwegian (the patch), or back (its undo).
enum class PatchDirection { kApply, kRestore };

// The images of every pair of PatchTable, made with MakeUnicode, with a searcher for each image
// to be replaced. Built once at the start of a run and used for the rest of it.
class PatchImages {
 public:
  explicit PatchImages(PatchDirection direction = PatchDirection::kApply);

  // Overwrites, for each pair in table order, the first occurrence of its English image in
  // `buffer` (as changed by the pairs before it) with its Norwegian image; kRestore the other
  // way round. Returns the three overwritten ranges, or std::nullopt as soon as an image is
  // missing; `buffer` then holds the replacements of the pairs before it and is to be discarded.
  std::optional<ReplacedRanges> ReplaceIn(std::span<char> buffer) const;

 private:
  struct Pair {
    Pair(std::string_view from_text, std::string_view to_text);
    ImageSearcher from;
    std::string to;
  };
  std::array<std::unique_ptr<const Pair>, PatchTable.size()> pairs_;
};

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PATCH_IMAGES_H_
