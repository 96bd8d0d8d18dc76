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

// Where the image to be replaced of each pair first occurs in a buffer as it was read, before
// any replacement; nothing where it does not occur.
using FirstOccurrences = std::array<std::optional<std::size_t>, PatchTable.size()>;

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

  // The same, given where each image first occurs in `buffer` as it is now (found by an
  // OccurrenceScan while it was read): only the few bytes around each replacement are searched
  // again, since a replacement may hide or make an occurrence of a later image only there.
  std::optional<ReplacedRanges> ReplaceIn(std::span<char> buffer,
                                          const FirstOccurrences& occurrences) const;

  // The searcher for the image to be replaced of pair `index`.
  const ImageSearcher& searcher(std::size_t index) const { return pairs_[index]->from; }

 private:
  std::optional<std::size_t> FirstAfterReplacements(std::span<const char> buffer, std::size_t index,
                                                    std::optional<std::size_t> in_original,
                                                    std::span<const ByteRange> replaced) const;

  struct Pair {
    Pair(std::string_view from_text, std::string_view to_text);
    ImageSearcher from;
    std::string to;
  };
  std::array<std::unique_ptr<const Pair>, PatchTable.size()> pairs_;
};

// Finds the FirstOccurrences of a buffer while it is being filled, so that each byte is searched
// while it is still in the processor's cache. Each call searches only what is new.
class OccurrenceScan {
 public:
  explicit OccurrenceScan(const PatchImages& images) : images_(images) {}

  // `filled` is the buffer's first bytes; it grows from call to call.
  void Scan(std::span<const char> filled);
  const FirstOccurrences& occurrences() const { return occurrences_; }

 private:
  const PatchImages& images_;
  std::size_t seen_ = 0;  // bytes that earlier calls looked at
  FirstOccurrences occurrences_;
};

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PATCH_IMAGES_H_
