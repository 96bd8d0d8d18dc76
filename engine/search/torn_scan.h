// A text that a write in place left cut short (a killed program, a short write, a power cut in
// the middle of a text): at its place each byte is the English or the Norwegian image's byte
// there, and it is neither whole. Found in a read of its own, only where a run found a pair in
// neither language; then the run reads the file again with the torn text taken as whole, and
// finishes it in the direction asked.
#ifndef OMBRIX_ENGINE_SEARCH_TORN_SCAN_H_
#define OMBRIX_ENGINE_SEARCH_TORN_SCAN_H_

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engine/search/anchor_scan.h"
#include "engine/search/patch_table.h"
#include "engine/search/stream_scan.h"

namespace ombrix {

// A torn text: its pair and its place.
struct TornText {
  std::size_t pair = 0;
  std::uint64_t offset = 0;
  friend bool operator==(const TornText&, const TornText&) = default;
};

// Finds the first torn text of each pair.
class TornScan final : public Scanner {
 public:
  TornScan();
  void Scan(std::span<char> window, std::uint64_t offset, bool at_end) override;
  std::size_t Keep() const override { return keep_; }
  std::size_t MaxKeep() const override { return max_keep_; }
  bool Done() const override;
  std::size_t MaxZeroRun() const override { return max_zero_run_; }

  std::optional<std::uint64_t> found(std::size_t pair) const { return found_[pair]; }
  // The torn text of the first pair that has one. A write in place tears one text at a time.
  std::optional<TornText> First() const;

 private:
  std::array<std::optional<std::uint64_t>, PatchTable.size()> found_;
  std::array<std::uint64_t, PatchTable.size()> searched_{};  // no torn text begins before
  // Where in a pair's texts two bytes two apart are letters in both: a torn text has one of
  // the two images' bytes at each, which the tables tell for every pair at once.
  std::array<std::size_t, PatchTable.size()> anchor_{};
  AnchorTable first_;
  AnchorTable second_;
  std::size_t keep_ = 0;
  std::size_t max_keep_ = 0;
  std::size_t max_zero_run_ = 0;  // where either image has a zero byte, a torn text may too
};

// Hands the file to `scanner` with the bytes at [offset, offset + image's length) read as
// `image`: a torn text taken as whole, in the language a run turns from.
class RepairedScan final : public Scanner {
 public:
  RepairedScan(Scanner& scanner, std::uint64_t offset, std::string_view image)
      : scanner_(scanner), offset_(offset), image_(image) {}
  void Scan(std::span<char> window, std::uint64_t offset, bool at_end) override;
  std::size_t Keep() const override { return scanner_.Keep(); }
  std::size_t MaxKeep() const override { return scanner_.MaxKeep(); }
  bool Done() const override { return scanner_.Done(); }
  std::size_t MaxZeroRun() const override { return scanner_.MaxZeroRun(); }

 private:
  Scanner& scanner_;
  std::uint64_t offset_;
  std::string_view image_;
  std::uint64_t seen_ = 0;  // the file's bytes handed on so far
};

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_SEARCH_TORN_SCAN_H_
