#include "engine/patch_run.h"

#include <optional>

namespace ombrix {

PatchOutcome RunPatch(const std::filesystem::path& path) {
  return RunPatch(path, PatchDirection::kApply);
}

PatchOutcome RunPatch(const std::filesystem::path& path, PatchDirection direction,
                      const RunSettings& settings) {
  FileSystem& files = *settings.files;
  if (!ProbeTarget(files, path)) return PatchOutcome::InvalidPath;
  const PatchImages images;
  RunScan scan(images, direction);
  TargetFile target(files, path);
  target.Scan(scan.scanner(), settings.buffer_size);
  const std::optional<Replacements> replacements = scan.Result();
  if (!replacements) return PatchOutcome::NotApplicable;
  target.Write(*replacements);
  return PatchOutcome::Completed;
}

}  // namespace ombrix
