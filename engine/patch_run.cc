#include "engine/patch_run.h"

#include <optional>

#include "engine/patch_images.h"
#include "engine/target_file.h"

namespace ombrix {

PatchOutcome RunPatch(const std::filesystem::path& path) {
  return RunPatch(path, PatchDirection::kApply);
}

PatchOutcome RunPatch(const std::filesystem::path& path, PatchDirection direction) {
  const PatchImages images(direction);
  if (!ProbeTarget(path)) return PatchOutcome::InvalidPath;
  FileBuffer buffer = ReadTarget(path);
  const std::optional<ReplacedRanges> replaced = images.ReplaceIn(buffer.bytes());
  if (!replaced) return PatchOutcome::NotApplicable;
  WriteTarget(path, buffer.bytes(), *replaced);
  return PatchOutcome::Completed;
}

}  // namespace ombrix
