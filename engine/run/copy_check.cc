#include "engine/run/copy_check.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/platform/file_errors.h"
#include "engine/platform/file_transfer.h"

namespace ombrix {
namespace {

// Compared a megabyte at a time.
constexpr std::size_t kChunk = std::size_t{1} << 20;

// Memory for one chunk, aligned for reads that bypass the system's cache.
class AlignedChunk {
 public:
  AlignedChunk() : memory_(new char[kChunk + kVerifyAlignment]) {
    const auto address = reinterpret_cast<std::uintptr_t>(memory_.get());
    data_ = memory_.get() + (kVerifyAlignment - address % kVerifyAlignment) % kVerifyAlignment;
  }
  std::span<char> span(std::size_t size = kChunk) { return {data_, size}; }

 private:
  std::unique_ptr<char[]> memory_;
  char* data_;
};

// Writes over `bytes`, which hold the file's bytes from `offset` on, what the replacements
// write there.
void Overlay(std::span<char> bytes, std::uint64_t offset, const Replacements& replacements) {
  const std::uint64_t end = offset + bytes.size();
  for (const Replacement& replacement : replacements) {
    const std::uint64_t from = std::max(offset, replacement.offset);
    const std::uint64_t to = std::min(end, replacement.offset + replacement.image.size());
    if (from >= to) continue;
    std::memcpy(bytes.data() + (from - offset),
                replacement.image.data() + (from - replacement.offset),
                static_cast<std::size_t>(to - from));
  }
}

}  // namespace

std::error_code CheckCopy(FileSystem& files, const File& file, const File& reader,
                          std::uint64_t size, const Replacements& replacements, CopyKind kind) {
  AlignedChunk stored;
  std::unique_ptr<char[]> meant(new char[kChunk]);
  // Compares what the disk holds of [from, to) with the file's bytes there, changed by the
  // replacements. REQUIRES: `from` aligned, `to` - `from` at most a chunk.
  const auto compare = [&](std::uint64_t from, std::uint64_t to) -> std::error_code {
    const auto length = static_cast<std::size_t>(to - from);
    const std::size_t aligned =
        (length + kVerifyAlignment - 1) / kVerifyAlignment * kVerifyAlignment;
    std::size_t count = 0;
    if (const std::error_code error =
            ReadUpTo(files, reader, from, stored.span(aligned), length, count)) {
      return error;
    }
    if (count < length) return PatchErrc::kFileChanged;
    const std::span<char> expected(meant.get(), length);
    if (const std::error_code error = ReadAllAt(files, file, from, expected)) return error;
    Overlay(expected, from, replacements);
    const auto differ =
        std::mismatch(expected.begin(), expected.end(), stored.span(length).begin());
    if (differ.first == expected.end()) return {};
    // In what the run wrote, the disk did not keep it. Elsewhere the copy holds what the file
    // held when it was copied, and the file now holds other bytes: another program changed it
    // in a way its times need not show (a write through a memory map), and the disk is not
    // to be blamed for what cannot be told apart.
    const std::uint64_t at = from + static_cast<std::uint64_t>(differ.first - expected.begin());
    for (const Replacement& replacement : replacements) {
      if (at >= replacement.offset && at < replacement.offset + replacement.image.size()) {
        return PatchErrc::kCopyDiffers;
      }
    }
    return PatchErrc::kFileChanged;
  };
  const auto compare_stretch = [&](std::uint64_t start, std::uint64_t end) -> std::error_code {
    for (std::uint64_t at = start / kVerifyAlignment * kVerifyAlignment; at < end; at += kChunk) {
      if (const std::error_code error = compare(at, std::min(at + kChunk, end))) return error;
    }
    return {};
  };
  for (const Replacement& replacement : replacements) {
    if (const std::error_code error =
            compare_stretch(replacement.offset, replacement.offset + replacement.image.size())) {
      return error;
    }
  }
  if (kind == CopyKind::kCloned) return {};
  return ForEachDataStretch(files, file, size, compare_stretch);
}

}  // namespace ombrix
