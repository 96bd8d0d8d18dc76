// One patch of one target file: probe the path, read the whole file, replace the first
// occurrence of each English image by its Norwegian image, and write the file back, but only
// when all three English images were found.
#ifndef OMBRIX_ENGINE_PATCH_RUN_H_
#define OMBRIX_ENGINE_PATCH_RUN_H_

#include <filesystem>

#include "engine/patch_error.h"
#include "engine/patch_images.h"

namespace ombrix {

enum class PatchOutcome {
  InvalidPath,    // the path does not open for reading as a regular file; nothing was touched
  NotApplicable,  // an English image is missing (already patched?); nothing was written
  Completed,      // all three images replaced; the file holds the patched bytes
};

// Patches the file at `path`, used exactly as given. Returns the run's outcome; throws
// PatchError (a std::filesystem::filesystem_error naming the path, the failed step and the
// system's reason) when reading or writing fails after the probe succeeded. The target then
// holds its old bytes, and nothing else is left behind in its folder.
PatchOutcome RunPatch(const std::filesystem::path& path);

// The same run in either direction: kRestore undoes a completed patch, turning the first
// occurrence of each Norwegian image back into its English image, all or nothing, with the same
// safe write. NotApplicable then means that a Norwegian image is missing.
PatchOutcome RunPatch(const std::filesystem::path& path, PatchDirection direction);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PATCH_RUN_H_
