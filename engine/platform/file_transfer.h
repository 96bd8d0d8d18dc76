// Whole reads and writes over FileSystem's single calls, which may move fewer bytes than asked.
#ifndef OMBRIX_ENGINE_PLATFORM_FILE_TRANSFER_H_
#define OMBRIX_ENGINE_PLATFORM_FILE_TRANSFER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <system_error>

#include "engine/platform/file_system.h"

namespace ombrix {

// Reads until `needed` bytes of `bytes` are filled or the file ends; `count` says how far it
// got. (A read that bypasses the cache must not go on at an unaligned offset, so `bytes` may be
// larger than what is needed.)
std::error_code ReadUpTo(FileSystem& files, const File& file, std::uint64_t offset,
                         std::span<char> bytes, std::size_t needed, std::size_t& count);
// Reads until `bytes` is full; running into the end of the file first is
// PatchErrc::kFileChanged (it was longer when the run began).
std::error_code ReadAllAt(FileSystem& files, const File& file, std::uint64_t offset,
                          std::span<char> bytes);
std::error_code WriteAllAt(FileSystem& files, const File& file, std::uint64_t offset,
                           std::span<const char> bytes);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PLATFORM_FILE_TRANSFER_H_
