#include "engine/file_system.h"

#include "engine/patch_error.h"

namespace ombrix {

bool SameFile(const FileInfo& a, const FileInfo& b) {
  return a.device == b.device && a.index == b.index;
}

bool SameFileUnchanged(const FileInfo& before, const FileInfo& now) {
  return now.is_regular && SameFile(before, now) && now.size == before.size &&
         now.modified == before.modified && now.changed == before.changed;
}

std::error_code ForEachDataStretch(
    FileSystem& files, const File& file, std::uint64_t size,
    const std::function<std::error_code(std::uint64_t, std::uint64_t)>& stretch) {
  for (std::uint64_t offset = 0; offset < size;) {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    if (const std::error_code error = files.FindData(file, offset, size, start, end)) return error;
    if (start >= size) break;
    // Data that moves backwards or is empty: the file changed under the walk.
    if (start < offset || end <= start) return PatchErrc::kFileChanged;
    if (const std::error_code error = stretch(start, end)) return error;
    offset = end;
  }
  return {};
}

}  // namespace ombrix
