#include "engine/search/stream_scan.h"

#include <algorithm>
#include <cassert>

namespace ombrix {

StreamScan::StreamScan(std::vector<ScanStep> steps) {
  for (const ScanStep& step : steps) {
    assert(step.replacement.empty() || step.replacement.size() == step.image->size());
    steps_.push_back({step, 0, std::nullopt});
    max_keep_ += step.image->size() - 1;
  }
}

void StreamScan::Scan(std::span<char> window, std::uint64_t offset, bool at_end) {
  end_ = offset + window.size();
  // The bytes that the steps after may change: those that every step before has searched to
  // the end and, if it replaces, will not change any more. A step that has not found its image
  // holds back where it could still begin, unless the file ends here.
  std::uint64_t settled = end_;
  for (Step& step : steps_) {
    const std::size_t size = step.image->size();
    if (!step.found && settled >= step.searched + size) {
      assert(step.searched >= offset);
      const std::span<const char> unsearched =
          window.subspan(static_cast<std::size_t>(step.searched - offset),
                         static_cast<std::size_t>(settled - step.searched));
      if (const std::optional<std::size_t> at = step.image->FindIn(unsearched)) {
        step.found = step.searched + *at;
        std::copy(step.replacement.begin(), step.replacement.end(),
                  window.begin() + static_cast<std::ptrdiff_t>(*step.found - offset));
      } else {
        step.searched = settled - size + 1;
      }
    }
    if (!step.found && !at_end) settled = std::min(settled, step.searched);
  }
}

std::size_t StreamScan::Keep() const {
  std::uint64_t from = end_;
  for (const Step& step : steps_) {
    if (!step.found) from = std::min(from, step.searched);
  }
  return static_cast<std::size_t>(end_ - from);
}

bool StreamScan::Done() const {
  return std::all_of(steps_.begin(), steps_.end(), [](const Step& step) { return step.found; });
}

void ScanInParts(std::span<char> bytes, Scanner& scanner, std::size_t part) {
  assert(part > 0);
  std::size_t start = 0;
  for (std::size_t filled = 0;;) {
    filled = std::min(bytes.size(), filled + std::min(part, bytes.size() - filled));
    const bool at_end = filled == bytes.size();
    scanner.Scan(bytes.subspan(start, filled - start), start, at_end);
    if (at_end || scanner.Done()) return;
    start = filled - scanner.Keep();
  }
}

}  // namespace ombrix
