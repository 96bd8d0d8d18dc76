#include "engine/run/patch_run.h"

#include <optional>

#include "engine/run/target_check.h"

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
  TargetFile target(files, path, *settings.undo);
  if (target.Open()) return PatchOutcome::InvalidPath;
  if (const std::optional<TargetFile::CutShort> found = target.FindUndoRecord()) {
    if (found->unfinished()) {
      // A write in place of this file was cut short: its ranges are made what this run wants,
      // and the file gets back the identity it had before.
      const Language wanted =
          direction == PatchDirection::kApply ? Language::kNorwegian : Language::kEnglish;
      Replacements finishing;
      bool fits = true;
      for (const UndoRange& range : found->record.ranges) {
        const std::string_view image = TextImage(range.pair, wanted);
        fits = fits && (image == range.before || image == range.after);
        finishing.push_back({range.pair, range.offset, image});
      }
      if (fits) {
        ThrowIfFailed(target.Finish(finishing, *found, written), path);
        return PatchOutcome::Completed;
      }
    }
    // A record of a write that ended, or never began (another run's, about to write), stays:
    // the write that left it removes it.
  }
  const PatchImages images;
  RunScan scan(images, direction);
  ThrowIfFailed(target.Scan(scan.scanner(), settings.buffer_size), path);
  std::optional<Replacements> replacements = scan.Result();
  if (!replacements) {
    // A text that a write in place left cut short is finished in the direction asked. Taken as
    // Norwegian, the file is what that write was making of it, partly patched: a restore turns
    // it back, and a patch makes it whole, where a restore of it would complete.
    RunScan restore(images, PatchDirection::kRestore);
    const std::optional<TornText> text = ScanTornAsNorwegian(target, restore, settings.buffer_size);
    if (text && TornTextStandsAlone(ScanToCheck(target, images, settings.buffer_size), *text)) {
      replacements = direction == PatchDirection::kRestore ? restore.Result() : restore.Repatch();
    }
  }
  if (!replacements) return PatchOutcome::NotApplicable;
  ThrowIfFailed(target.Write(*replacements, written), path);
  return PatchOutcome::Completed;
}

}  // namespace ombrix
