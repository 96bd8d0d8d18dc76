#include "engine/platform/file_transfer.h"

#include "engine/platform/file_errors.h"

namespace ombrix {

std::error_code ReadUpTo(FileSystem& files, const File& file, std::uint64_t offset,
                         std::span<char> bytes, std::size_t needed, std::size_t& count) {
  count = 0;
  while (count < needed) {
    std::size_t moved = 0;
    if (const std::error_code error =
            files.ReadAt(file, offset + count, bytes.subspan(count), moved)) {
      return error;
    }
    if (moved == 0) break;
    count += moved;
  }
  return {};
}

std::error_code ReadAllAt(FileSystem& files, const File& file, std::uint64_t offset,
                          std::span<char> bytes) {
  std::size_t count = 0;
  if (const std::error_code error = ReadUpTo(files, file, offset, bytes, bytes.size(), count)) {
    return error;
  }
  return count == bytes.size() ? std::error_code() : PatchErrc::kFileChanged;
}

std::error_code WriteAllAt(FileSystem& files, const File& file, std::uint64_t offset,
                           std::span<const char> bytes) {
  while (!bytes.empty()) {
    std::size_t count = 0;
    if (const std::error_code error = files.WriteAt(file, offset, bytes, count)) return error;
    if (count == 0) return std::make_error_code(std::errc::io_error);
    bytes = bytes.subspan(count);
    offset += count;
  }
  return {};
}

}  // namespace ombrix
