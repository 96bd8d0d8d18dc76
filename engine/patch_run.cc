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
  OccurrenceScan scan(images);  // searches each part of the file as soon as it is read
  FileBuffer buffer = ReadTarget(path, [&](std::span<const char> filled) { scan.Scan(filled); });
  const std::optional<ReplacedRanges> replaced =
      images.ReplaceIn(buffer.bytes(), scan.occurrences());
  if (!replaced) return PatchOutcome::NotApplicable;
  WriteTarget(path, buffer, *replaced);
  return PatchOutcome::Completed;
}

}  // namespace ombrix
