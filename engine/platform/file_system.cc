#include "engine/platform/file_system.h"

#include <algorithm>

namespace ombrix {

std::error_code FileSystem::FindData(const File& /*file*/, std::uint64_t offset, std::uint64_t size,
                                     std::uint64_t& start, std::uint64_t& end) {
  start = std::min(offset, size);
  end = size;
  return {};
}

std::error_code FindDataAfter(FileSystem& files, const File& file, std::uint64_t offset,
                              std::uint64_t size, std::uint64_t& start, std::uint64_t& end) {
  if (const std::error_code error = files.FindData(file, offset, size, start, end)) return error;
  if (start >= size) return {};
  // Data that moves backwards or is empty: the file changed under the walk.
  return start < offset || end <= start ? make_error_code(PatchErrc::kFileChanged)
                                        : std::error_code();
}

std::error_code ForEachDataStretch(
    FileSystem& files, const File& file, std::uint64_t size,
    const std::function<std::error_code(std::uint64_t, std::uint64_t)>& stretch) {
  for (std::uint64_t offset = 0; offset < size;) {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    if (const std::error_code error = FindDataAfter(files, file, offset, size, start, end)) {
      return error;
    }
    if (start >= size) break;
    if (const std::error_code error = stretch(start, end)) return error;
    offset = end;
  }
  return {};
}

std::error_code CompareWithOpened(const Target& target, std::error_code looked,
                                  const FileInfo& now) {
  // The file was there when it was opened: another program removed or renamed it since.
  if (looked == std::errc::no_such_file_or_directory) return PatchErrc::kFileRemoved;
  if (looked) return looked;
  const FileInfo& before = target.info;
  if (target.written_by_run) {
    const bool named = now.is_regular && now.device == before.device && now.index == before.index;
    return named ? std::error_code() : make_error_code(PatchErrc::kFileChanged);
  }
  const bool same = now.is_regular && now.device == before.device && now.index == before.index &&
                    now.size == before.size && now.modified == before.modified &&
                    now.changed == before.changed;
  return target.written || !same ? make_error_code(PatchErrc::kFileChanged) : std::error_code();
}

}  // namespace ombrix
