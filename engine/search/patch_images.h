// The byte images of the patch and what a run does with them: pair by pair, in table order, the
// first occurrence of each English image is overwritten by its Norwegian image (a patch), or
// each Norwegian image that is there by its English image (a restore).
#ifndef OMBRIX_ENGINE_SEARCH_PATCH_IMAGES_H_
#define OMBRIX_ENGINE_SEARCH_PATCH_IMAGES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "engine/search/image_search.h"
#include "engine/search/patch_table.h"
#include "engine/search/stream_scan.h"

namespace ombrix {

// Which way a run turns the texts: English into Norwegian (the patch), or back (its undo).
enum class PatchDirection { kApply, kRestore };

// One overwrite of a run: the image `image` (of pair `pair`) written at `offset` of the file.
struct Replacement {
  std::size_t pair = 0;
  std::uint64_t offset = 0;
  std::string_view image;
  friend bool operator==(const Replacement& a, const Replacement& b) {
    return a.pair == b.pair && a.offset == b.offset && a.image == b.image;
  }
};

// A run's overwrites in table order. Written in that order, they make the run's result (where
// two overlap, the later one is what the run leaves).
using Replacements = std::vector<Replacement>;

enum class Language { kEnglish, kNorwegian };

// The image (made with MakeUnicode) of the text of pair `pair` of PatchTable in `language`; made
// once, it lasts as long as the program.
std::string_view TextImage(std::size_t pair, Language language);

// A searcher for each image of PatchTable. Built once at the start of a run and used for the
// rest of it.
class PatchImages {
 public:
  PatchImages();
  const ImageSearcher& english(std::size_t pair) const { return *english_[pair]; }
  const ImageSearcher& norwegian(std::size_t pair) const { return *norwegian_[pair]; }

 private:
  std::array<std::unique_ptr<const ImageSearcher>, PatchTable.size()> english_;
  std::array<std::unique_ptr<const ImageSearcher>, PatchTable.size()> norwegian_;
};

// Where a restore cannot tell which place a patch wrote: the pair, and two places of its texts
// (two Norwegian images, or an English one before the Norwegian one, which a patch would have
// replaced first).
struct RestoreAmbiguity {
  std::size_t pair = 0;
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  friend bool operator==(const RestoreAmbiguity&, const RestoreAmbiguity&) = default;
};

// What one run in `direction` finds in a file, scanned as it is read.
//
// A patch overwrites, pair by pair in table order, the first occurrence of the English image
// (in the file as the pairs before left it) with the Norwegian image, and completes only when
// all three are there. A restore turns back, the same way, each Norwegian image that is there,
// so that a partly patched file comes whole again; it completes when it turned back at least
// one, the result holds all that a patch needs, and the patch would write exactly where the
// restore turned back: a restore turns back only what a patch can have written.
class RunScan {
 public:
  RunScan(const PatchImages& images, PatchDirection direction);
  RunScan(const RunScan&) = delete;
  RunScan& operator=(const RunScan&) = delete;

  Scanner& scanner() { return scan_; }
  const Scanner& scanner() const { return scan_; }
  StreamScan& scan() { return scan_; }
  // The run's overwrites, once the scanner saw the file; nothing when the run would not complete.
  std::optional<Replacements> Result() const;
  // For a restore: where it cannot tell which place a patch wrote (it then does not complete).
  std::optional<RestoreAmbiguity> Ambiguous() const;
  // For a restore that completes: the overwrites of a patch of its result, which makes a
  // partly patched file wholly patched (where a text is Norwegian already, it writes the same).
  std::optional<Replacements> Repatch() const;

 private:
  PatchDirection direction_;
  StreamScan scan_;
};

// The overwrites of a run in `direction` over bytes whole in memory, read as ScanInParts reads
// them (`part` bytes at a time, `holes` skipped); nothing when the run would not complete.
std::optional<Replacements> ScanForRun(std::span<const char> bytes, PatchDirection direction,
                                       std::size_t part = std::numeric_limits<std::size_t>::max(),
                                       std::span<const Stretch> holes = {});

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_SEARCH_PATCH_IMAGES_H_
