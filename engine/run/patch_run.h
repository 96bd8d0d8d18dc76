// One patch of one target file: probe the path, read the file once while searching it, and
// write the replacement of the first occurrence of each English image by its Norwegian image,
// but only when all three English images were found.
#ifndef OMBRIX_ENGINE_RUN_PATCH_RUN_H_
#define OMBRIX_ENGINE_RUN_PATCH_RUN_H_

#include <cstddef>
#include <filesystem>

#include "engine/platform/file_system.h"
#include "engine/run/failure.h"
#include "engine/run/target_file.h"
#include "engine/search/patch_images.h"

namespace ombrix {

enum class PatchOutcome {
  InvalidPath,    // the path does not open for reading as a regular file; nothing was touched
  NotApplicable,  // an English image is missing (already patched?); nothing was written
  Completed,      // all three images replaced; the file holds the patched bytes
};

// How a run reaches the file system: the tests give a file system that fails on purpose, and
// a buffer of a few bytes so that every boundary between the parts read is crossed.
struct RunSettings {
  FileSystem* files = &RealFileSystem();
  std::size_t buffer_size = kReadBufferSize;
  UndoStore* undo = &RealUndoStore();  // where a write in place keeps its undo record
};

// Patches the file at `path`, used exactly as given. Returns the run's outcome; throws
// PatchError (a std::filesystem::filesystem_error naming the path and the system's reason, and
// holding the failed step) when reading or writing fails after the probe succeeded. The target then
// holds its old bytes, and nothing else is left behind in its folder.
PatchOutcome RunPatch(const std::filesystem::path& path);

// The same run in either direction. kRestore undoes a patch, whole or in part: it turns the
// first occurrence of each Norwegian image that is there back into its English image, and
// completes when it turned back at least one and the file then holds what a patch needs;
// NotApplicable otherwise (never patched, or not the expected program).
PatchOutcome RunPatch(const std::filesystem::path& path, PatchDirection direction,
                      const RunSettings& settings = {});
// The same, and where it completes, `written` says how it changed the file: through a new copy,
// or in place and why (such as a disk without room for a new copy).
PatchOutcome RunPatch(const std::filesystem::path& path, PatchDirection direction,
                      const RunSettings& settings, Written& written);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_RUN_PATCH_RUN_H_
