// Searching a file for the patch's images while it is read part by part through a small
// buffer, never holding the whole file: each search sees the file as the replacements before it
// would have changed it, exactly as if it searched the whole file after them.
#ifndef OMBRIX_ENGINE_SEARCH_STREAM_SCAN_H_
#define OMBRIX_ENGINE_SEARCH_STREAM_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/search/image_search.h"
#include "engine/search/image_set.h"

namespace ombrix {

// What a file, read part by part, is handed to.
class Scanner {
 public:
  virtual ~Scanner() = default;

  // `window` holds the bytes of the file from `offset` on: first the last Keep() bytes of the
  // window before (none the first time), then the bytes read since. `at_end`: no image goes on
  // past the window, because the file ends with it or a hole follows whose middle no image can
  // reach (MaxZeroRun); the next window, if any, then starts further on, with nothing kept. The
  // scanner may change the window's bytes.
  virtual void Scan(std::span<char> window, std::uint64_t offset, bool at_end) = 0;
  // How many of the last window's bytes the next call needs to see again.
  virtual std::size_t Keep() const = 0;
  // The most that Keep() ever answers.
  virtual std::size_t MaxKeep() const = 0;
  // Whether the rest of the file can no longer change what the scanner found.
  virtual bool Done() const = 0;
  // The most zero bytes in a row of any image the scanner looks for: of a hole (a stretch of
  // zero bytes) longer than twice this, an occurrence can hold only the bytes this near to
  // its edges.
  virtual std::size_t MaxZeroRun() const = 0;
};

// One step of a StreamScan: the image it looks for and, unless it only looks, the image that
// replaces the first occurrence (as long as the other).
struct ScanStep {
  const ImageSearcher* image;
  std::string_view replacement;  // empty: the step only looks
};

// Runs its steps one after the other over the file: step k finds the first occurrence of its
// image in the file as steps 0 to k-1 left it, and replaces it for the steps after it. So a
// replacement that hides or makes an occurrence of a later image counts, at any byte offset,
// and the result is the same however the file is cut into parts. Until it finds its image, a
// step holds back from the steps after it the bytes that an occurrence could still begin in,
// so the steps follow the reading at a distance of at most the lengths of their images.
// REQUIRES: each image holds a byte other than zero, and each replacement has zero bytes where
// its image has them (text images do), so that no replacement fills a hole's edge.
class StreamScan : public Scanner {
 public:
  explicit StreamScan(std::vector<ScanStep> steps);

  void Scan(std::span<char> window, std::uint64_t offset, bool at_end) override;
  // Scan() of the window of `size` bytes from `offset` on that this scan would be handed, where
  // the caller knows that none of the images occurs in it: in the bytes it kept of its last
  // window, as its replacements left them, and those after. Each step only moves on.
  void ScanWithout(std::size_t size, std::uint64_t offset, bool at_end);
  std::size_t Keep() const override;
  std::size_t MaxKeep() const override { return max_keep_; }
  // Every step found its image.
  bool Done() const override;
  std::size_t MaxZeroRun() const override { return max_zero_run_; }

  // Where step `index` found its image, as an offset in the file.
  std::optional<std::uint64_t> found(std::size_t index) const { return steps_[index].found; }

 private:
  struct Step : ScanStep {
    std::uint64_t searched = 0;  // no occurrence begins before this offset
    std::optional<std::uint64_t> found;
    unsigned in_set = 0;  // the image's bit in images_, if it has one
  };
  // Scan() of the `size` bytes from `offset` on, which are `*window`; where no window is given,
  // none of the images occurs in them.
  void MoveOn(std::uint64_t offset, std::size_t size, bool at_end,
              std::span<char>* window = nullptr);
  // Whether no step that has not found its image can find it in `window`, which one pass over
  // the bytes left to them tells for all the steps at once.
  bool NoneCanFind(std::span<const char> window, std::uint64_t offset) const;

  std::vector<Step> steps_;
  std::optional<ImageSet> images_;  // the steps' images, where there are few enough
  std::uint64_t end_ = 0;           // bytes of the file seen so far
  std::size_t max_keep_ = 0;
  std::size_t max_zero_run_ = 0;
};

// A file as ScanData reads it: where its data lies, and its bytes.
class ScanSource {
 public:
  virtual ~ScanSource() = default;
  // The first stretch of data at or after `offset`, [start, end), with offset <= start < end;
  // start is the file's length where only a hole follows. Holes read as zero bytes.
  virtual std::error_code FindData(std::uint64_t offset, std::uint64_t& start,
                                   std::uint64_t& end) = 0;
  // Fills all of `bytes` with the file's bytes from `offset` on.
  virtual std::error_code Read(std::uint64_t offset, std::span<char> bytes) = 0;
  // Called once, when every byte up to the file's length was read or found to lie in a hole,
  // before the scanner sees the last of them: fails where the file goes on past its length.
  virtual std::error_code CheckEnd() { return {}; }
};

// Hands the `size` bytes of `source` to `scanner` through `buffer` (at least one byte more
// than the scanner's MaxKeep), until the file ends or the scanner is done. Of each hole it
// reads only the scanner's MaxZeroRun bytes at either edge, the only ones an image could
// share with it, and ends the window before a longer hole: the scanner finds what it would
// find in every byte, and a sparse file costs what its data costs. Answers the source's first
// error.
std::error_code ScanData(ScanSource& source, std::uint64_t size, Scanner& scanner,
                         std::span<char> buffer);

// A stretch of a file's bytes, [start, end).
struct Stretch {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

// Hands `bytes`, whole in memory, to `scanner` as ScanData reads a file `part` bytes at a time
// whose data is all but `holes` (in order; zero bytes). The tests and the fuzzer cut it into
// parts of a few bytes so that every boundary is crossed, and make holes at every offset.
void ScanInParts(std::span<const char> bytes, Scanner& scanner, std::size_t part,
                 std::span<const Stretch> holes = {});

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_SEARCH_STREAM_SCAN_H_
