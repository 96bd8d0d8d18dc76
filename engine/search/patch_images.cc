#include "engine/search/patch_images.h"

#include <string>

namespace ombrix {
namespace {

// The steps of a run. A patch: each English image replaced by its Norwegian one. A restore:
// each Norwegian image turned back where it is, then a patch of the result, which only needs to
// find its images: its replacements are made in the scan's window, never written.
std::vector<ScanStep> RunSteps(const PatchImages& images, PatchDirection direction) {
  std::vector<ScanStep> steps;
  if (direction == PatchDirection::kRestore) {
    for (std::size_t i = 0; i < PatchTable.size(); ++i) {
      steps.push_back({&images.norwegian(i), TextImage(i, Language::kEnglish)});
    }
    // A second Norwegian image of a pair: either could be the one a patch wrote.
    for (std::size_t i = 0; i < PatchTable.size(); ++i) steps.push_back({&images.norwegian(i), {}});
  }
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    steps.push_back({&images.english(i), TextImage(i, Language::kNorwegian)});
  }
  return steps;
}

}  // namespace

std::string_view TextImage(std::size_t pair, Language language) {
  static const auto images = [] {
    std::array<std::array<std::string, 2>, PatchTable.size()> made;
    for (std::size_t i = 0; i < PatchTable.size(); ++i) {
      made[i] = {MakeUnicode(PatchTable[i].english), MakeUnicode(PatchTable[i].norwegian)};
    }
    return made;
  }();
  return images[pair][language == Language::kEnglish ? 0 : 1];
}

PatchImages::PatchImages() {
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    english_[i] = std::make_unique<const ImageSearcher>(TextImage(i, Language::kEnglish));
    norwegian_[i] = std::make_unique<const ImageSearcher>(TextImage(i, Language::kNorwegian));
  }
}

RunScan::RunScan(const PatchImages& images, PatchDirection direction)
    : direction_(direction), scan_(RunSteps(images, direction)) {}

std::optional<RestoreAmbiguity> RunScan::Ambiguous() const {
  const std::size_t pairs = PatchTable.size();
  if (direction_ != PatchDirection::kRestore) return std::nullopt;
  for (std::size_t i = 0; i < pairs; ++i) {
    if (!scan_.found(i)) continue;
    // Two Norwegian images of the pair, or an English one before the one to turn back, which a
    // patch would have taken first: a patch cannot have written the place a restore would.
    const std::optional<std::uint64_t> again = scan_.found(pairs + i);
    const std::optional<std::uint64_t> patched = scan_.found(2 * pairs + i);
    if (again) return RestoreAmbiguity{i, *scan_.found(i), *again};
    if (patched && *patched != *scan_.found(i)) {
      return RestoreAmbiguity{i, *patched, *scan_.found(i)};
    }
  }
  return std::nullopt;
}

std::optional<Replacements> RunScan::Result() const {
  const std::size_t pairs = PatchTable.size();
  // The patch's steps come last in both directions: all of them must find their image.
  const std::size_t patch = direction_ == PatchDirection::kApply ? 0 : 2 * pairs;
  for (std::size_t i = 0; i < pairs; ++i) {
    if (!scan_.found(patch + i)) return std::nullopt;
  }
  if (Ambiguous()) return std::nullopt;
  Replacements replacements;
  for (std::size_t i = 0; i < pairs; ++i) {
    if (direction_ == PatchDirection::kApply) {
      replacements.push_back({i, *scan_.found(i), TextImage(i, Language::kNorwegian)});
    } else if (scan_.found(i)) {
      replacements.push_back({i, *scan_.found(i), TextImage(i, Language::kEnglish)});
    }
  }
  if (replacements.empty()) return std::nullopt;  // a restore that found nothing to turn back
  return replacements;
}

std::optional<Replacements> RunScan::Repatch() const {
  if (direction_ != PatchDirection::kRestore || !Result()) return std::nullopt;
  const std::size_t pairs = PatchTable.size();
  Replacements replacements;
  for (std::size_t i = 0; i < pairs; ++i) {
    replacements.push_back({i, *scan_.found(2 * pairs + i), TextImage(i, Language::kNorwegian)});
  }
  return replacements;
}

std::optional<Replacements> ScanForRun(std::span<const char> bytes, PatchDirection direction,
                                       std::size_t part, std::span<const Stretch> holes) {
  const PatchImages images;
  RunScan scan(images, direction);
  ScanInParts(bytes, scan.scanner(), part, holes);
  return scan.Result();
}

}  // namespace ombrix
