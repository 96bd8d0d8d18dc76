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
#include <vector>

#include "engine/search/image_search.h"

namespace ombrix {

// What a file, read part by part, is handed to.
class Scanner {
 public:
  virtual ~Scanner() = default;

  // `window` holds the bytes of the file from `offset` on: first the last Keep() bytes of the
  // window before (none the first time), then the bytes read since. `at_end`: the file ends
  // with the window. The scanner may change the window's bytes.
  virtual void Scan(std::span<char> window, std::uint64_t offset, bool at_end) = 0;
  // How many of the last window's bytes the next call needs to see again.
  virtual std::size_t Keep() const = 0;
  // The most that Keep() ever answers.
  virtual std::size_t MaxKeep() const = 0;
  // Whether the rest of the file can no longer change what the scanner found.
  virtual bool Done() const = 0;
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
class StreamScan : public Scanner {
 public:
  explicit StreamScan(std::vector<ScanStep> steps);

  void Scan(std::span<char> window, std::uint64_t offset, bool at_end) override;
  std::size_t Keep() const override;
  std::size_t MaxKeep() const override { return max_keep_; }
  // Every step found its image.
  bool Done() const override;

  // Where step `index` found its image, as an offset in the file.
  std::optional<std::uint64_t> found(std::size_t index) const { return steps_[index].found; }

 private:
  struct Step : ScanStep {
    std::uint64_t searched = 0;  // no occurrence begins before this offset
    std::optional<std::uint64_t> found;
  };
  std::vector<Step> steps_;
  std::uint64_t end_ = 0;  // bytes of the file seen so far
  std::size_t max_keep_ = 0;
};

// Hands `bytes`, whole in memory, to `scanner` as if it were read `part` bytes at a time (the
// tests and the fuzzer cut it into parts of a few bytes so that every boundary is crossed).
void ScanInParts(std::span<char> bytes, Scanner& scanner, std::size_t part);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_SEARCH_STREAM_SCAN_H_
