#include "engine/run/patch_run.h"

#include <optional>

namespace ombrix {

PatchOutcome RunPatch(const std::filesystem::path& path) {
  return RunPatch(path, PatchDirection::kApply);
}

PatchOutcome RunPatch(const std::filesystem::path& path, PatchDirection direction,
                      const RunSettings& settings) {
  Written written;
  return RunPatch(path, direction, settings, written);
}

PatchOutcome RunPatch(const std::filesystem::path& path, PatchDirection direction,
                      const RunSettings& settings, Written& written) {
  FileSystem& files = *settings.files;
  TargetFile target(files, path);
  if (target.Open()) return PatchOutcome::InvalidPath;
  const PatchImages images;
  RunScan scan(images, direction);
  ThrowIfFailed(target.Scan(scan.scanner(), settings.buffer_size), path);
  const std::optional<Replacements> replacements = scan.Result();
  if (!replacements) return PatchOutcome::NotApplicable;
  ThrowIfFailed(target.Write(*replacements, written), path);
  return PatchOutcome::Completed;
}

}  // namespace ombrix
