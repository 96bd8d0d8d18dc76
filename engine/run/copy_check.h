// Checking a run's new copy against what it must hold, as the disk gives it back: the target's
// bytes with the run's replacements written over them.
#ifndef OMBRIX_ENGINE_RUN_COPY_CHECK_H_
#define OMBRIX_ENGINE_RUN_COPY_CHECK_H_

#include <cstdint>
#include <system_error>

#include "engine/platform/file_system.h"
#include "engine/search/patch_images.h"

namespace ombrix {

// Compares `reader` (the copy, opened by OpenForVerifying) with `file`, `size` bytes long, as
// `replacements` change it: the replaced ranges, and for a copy that is not a clone every
// stretch of data too (a clone shares the file's other blocks; holes hold nothing the disk
// could have got wrong). PatchErrc::kCopyDiffers where the copy differs in what the run wrote
// (which may also mean that another program changed `file` meanwhile); kFileChanged where it
// differs elsewhere: the file no longer holds what it held when it was copied.
std::error_code CheckCopy(FileSystem& files, const File& file, const File& reader,
                          std::uint64_t size, const Replacements& replacements, CopyKind kind);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_RUN_COPY_CHECK_H_
