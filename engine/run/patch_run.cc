#include "engine/run/patch_run.h"

#include <optional>

#include "engine/search/torn_scan.h"

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
  std::optional<Replacements> replacements = scan.Result();
  if (!replacements) {
    // A text that a write in place left cut short is finished in the direction asked. Taken as
    // Norwegian, the file is what that write was making of it, partly patched: a restore turns
    // it back, and a patch makes it whole, where a restore of it would complete.
    TornScan torn;
    ThrowIfFailed(target.Scan(torn, settings.buffer_size), path);
    if (const std::optional<TornText> text = torn.First()) {
      RunScan restore(images, PatchDirection::kRestore);
      RepairedScan repaired(restore.scanner(), text->offset,
                            TextImage(text->pair, Language::kNorwegian));
      ThrowIfFailed(target.Scan(repaired, settings.buffer_size), path);
      replacements = direction == PatchDirection::kRestore ? restore.Result() : restore.Repatch();
    }
  }
  if (!replacements) return PatchOutcome::NotApplicable;
  ThrowIfFailed(target.Write(*replacements, written), path);
  return PatchOutcome::Completed;
}

}  // namespace ombrix
