#include "engine/search/stream_scan.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <string_view>

namespace ombrix {
namespace {

// The most zero bytes in a row in `image`.
std::size_t LongestZeroRun(std::string_view image) {
  std::size_t longest = 0;
  std::size_t run = 0;
  for (const char byte : image) {
    run = byte == '\0' ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

// Whether `replacement` has a zero byte wherever `image` has one.
[[maybe_unused]] bool KeepsZeros(std::string_view image, std::string_view replacement) {
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (image[i] == '\0' && replacement[i] != '\0') return false;
  }
  return true;
}

}  // namespace

StreamScan::StreamScan(std::vector<ScanStep> steps) {
  for (const ScanStep& step : steps) {
    const std::string& image = step.image->needle();
    assert(LongestZeroRun(image) < image.size());
    assert(step.replacement.empty() ||
           (step.replacement.size() == image.size() && KeepsZeros(image, step.replacement)));
    steps_.push_back({step, 0, std::nullopt});
    max_keep_ += image.size() - 1;
    max_zero_run_ = std::max(max_zero_run_, LongestZeroRun(image));
  }
  std::vector<const ImageSearcher*> images;
  for (Step& step : steps_) {
    const auto index = static_cast<std::size_t>(
        std::find(images.begin(), images.end(), step.image) - images.begin());
    if (index == images.size()) images.push_back(step.image);
    if (index < ImageSet::kMostImages) step.in_set = 1u << index;
  }
  if (images.size() <= ImageSet::kMostImages) images_.emplace(images);
}

bool StreamScan::NoneCanFind(std::span<const char> window, std::uint64_t offset) const {
  if (!images_) return false;
  unsigned which = 0;
  std::uint64_t from = offset + window.size();
  for (const Step& step : steps_) {
    if (step.found) continue;
    which |= step.in_set;
    from = std::min(from, std::max(step.searched, offset));
  }
  return !images_->MayHold(window.subspan(static_cast<std::size_t>(from - offset)), which);
}

void StreamScan::Scan(std::span<char> window, std::uint64_t offset, bool at_end) {
  // Mostly no step finds anything in a window: one pass then tells them all so.
  if (NoneCanFind(window, offset)) {
    MoveOn(offset, window.size(), at_end);
  } else {
    MoveOn(offset, window.size(), at_end, &window);
  }
}

void StreamScan::ScanWithout(std::size_t size, std::uint64_t offset, bool at_end) {
  MoveOn(offset, size, at_end);
}

void StreamScan::MoveOn(std::uint64_t offset, std::size_t size, bool at_end,
                        std::span<char>* window) {
  end_ = offset + size;
  // The bytes that the steps after may change: those that every step before has searched to
  // the end and, if it replaces, will not change any more. A step that has not found its image
  // holds back where it could still begin, unless no image goes on past the window.
  std::uint64_t settled = end_;
  for (Step& step : steps_) {
    const std::size_t length = step.image->size();
    // After a hole that no image crosses, nothing begins before the window.
    step.searched = std::max(step.searched, offset);
    if (!step.found && settled >= step.searched + length) {
      const std::optional<std::size_t> at =
          window == nullptr ? std::nullopt
                            : step.image->FindIn(window->subspan(
                                  static_cast<std::size_t>(step.searched - offset),
                                  static_cast<std::size_t>(settled - step.searched)));
      if (at) {
        step.found = step.searched + *at;
        std::copy(step.replacement.begin(), step.replacement.end(),
                  window->begin() + static_cast<std::ptrdiff_t>(*step.found - offset));
      } else {
        step.searched = settled - length + 1;
      }
    }
    if (!step.found && !at_end) settled = std::min(settled, step.searched);
    if (at_end) step.searched = end_;
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

std::error_code ScanData(ScanSource& source, std::uint64_t size, Scanner& scanner,
                         std::span<char> buffer) {
  assert(buffer.size() > scanner.MaxKeep());
  const std::uint64_t margin = scanner.MaxZeroRun();
  // Each window reads at most this much, and its reads end where a multiple of it does: the
  // file is read at the offsets of its pages, as copying from the system's cache is fastest.
  const std::size_t read_size = buffer.size() - scanner.MaxKeep();
  // The bytes to read are the data and `margin` bytes of hole on either side of it; those of
  // [pos, stop) are read in a row. `looked` is where the data found so far ends.
  std::uint64_t looked = 0;
  // The next bytes to read after `looked`: [begin, end), begin == size where none are left.
  const auto next = [&](std::uint64_t& begin, std::uint64_t& end) -> std::error_code {
    begin = end = size;
    if (looked >= size) return {};
    std::uint64_t start = size;
    std::uint64_t finish = size;
    if (const std::error_code error = source.FindData(looked, start, finish)) return error;
    if (start >= size) return {};
    assert(start >= looked && finish > start && finish <= size);
    looked = finish;
    begin = start - std::min(start, margin);
    end = finish + std::min(size - finish, margin);
    return {};
  };
  std::uint64_t pos = 0;
  std::uint64_t stop = 0;
  if (const std::error_code error = next(pos, stop)) return error;
  std::uint64_t window_offset = pos;  // of the buffer's first byte
  std::size_t kept = 0;               // bytes of the last window kept at the buffer's start
  for (;;) {
    std::size_t filled = kept;
    bool window_ends = false;    // no image goes on past the window
    std::uint64_t after = size;  // where reading goes on after a hole, if it does
    std::uint64_t after_end = size;
    while (filled - kept < read_size) {
      if (pos == stop) {
        std::uint64_t begin = size;
        std::uint64_t end = size;
        if (const std::error_code error = next(begin, end)) return error;
        if (begin < size && begin <= stop) {  // a hole short enough to read
          stop = std::max(stop, end);
          continue;
        }
        window_ends = true;
        after = begin;
        after_end = end;
        break;
      }
      const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(
          {stop - pos, read_size - (filled - kept), read_size - pos % read_size}));
      if (const std::error_code error = source.Read(pos, buffer.subspan(filled, count))) {
        return error;
      }
      pos += count;
      filled += count;
    }
    const bool file_ends = window_ends && after >= size;
    if (file_ends) {
      if (const std::error_code error = source.CheckEnd()) return error;
    }
    scanner.Scan(buffer.first(filled), window_offset, window_ends);
    if (file_ends || scanner.Done()) return {};
    if (window_ends) {
      kept = 0;
      pos = window_offset = after;
      stop = after_end;
    } else {
      kept = scanner.Keep();
      std::memmove(buffer.data(), buffer.data() + filled - kept, kept);
      window_offset += filled - kept;
    }
  }
}

namespace {

// Bytes in memory, as a file whose data is all but the given holes.
class BytesSource final : public ScanSource {
 public:
  BytesSource(std::span<const char> bytes, std::span<const Stretch> holes)
      : bytes_(bytes), holes_(holes) {}

  std::error_code FindData(std::uint64_t offset, std::uint64_t& start,
                           std::uint64_t& end) override {
    start = offset;
    for (const Stretch& hole : holes_) {
      if (hole.end <= start) continue;
      if (hole.start > start) break;
      start = hole.end;
    }
    end = bytes_.size();
    for (const Stretch& hole : holes_) {
      if (hole.start > start) {
        end = hole.start;
        break;
      }
    }
    start = std::min<std::uint64_t>(start, bytes_.size());
    return {};
  }
  std::error_code Read(std::uint64_t offset, std::span<char> bytes) override {
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), bytes.size(), bytes.begin());
    return {};
  }

 private:
  std::span<const char> bytes_;
  std::span<const Stretch> holes_;
};

}  // namespace

void ScanInParts(std::span<const char> bytes, Scanner& scanner, std::size_t part,
                 std::span<const Stretch> holes) {
  assert(part > 0);
  BytesSource source(bytes, holes);
  std::vector<char> buffer(scanner.MaxKeep() + std::min(part, bytes.size() + 1));
  (void)ScanData(source, bytes.size(), scanner, buffer);
}

}  // namespace ombrix
