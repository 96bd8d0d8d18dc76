#include "engine/target_check.h"

#include <algorithm>

#include "engine/image_search.h"
#include "engine/patch_images.h"
#include "engine/target_file.h"

namespace ombrix {
namespace {

std::optional<std::uint64_t> FirstOffset(std::string_view text, std::span<const char> bytes) {
  return ImageSearcher(MakeUnicode(text)).FindIn(bytes);
}

}  // namespace

TargetCheck CheckBytes(std::span<char> bytes) {
  const PatchImages patch(PatchDirection::kApply);
  FirstOccurrences english;
  TargetCheck check;
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    english[i] = patch.searcher(i).FindIn(bytes);
    check.pairs[i] = {english[i], FirstOffset(PatchTable[i].norwegian, bytes)};
  }
  const auto all = [&](auto found) {
    return std::all_of(check.pairs.begin(), check.pairs.end(), found);
  };
  const bool no_english = all([](const PairFound& pair) { return !pair.english; });
  const bool no_norwegian = all([](const PairFound& pair) { return !pair.norwegian; });
  const bool every_norwegian =
      all([](const PairFound& pair) { return pair.norwegian.has_value(); });
  // "Unpatched" is what a run would make of these bytes, replacements of earlier pairs included;
  // the English texts found above spare the run its own search.
  if (patch.ReplaceIn(bytes, english)) {
    check.kind = TargetKind::kUnpatched;
  } else if (no_english && every_norwegian) {
    check.kind = TargetKind::kPatched;
  } else if (no_english && no_norwegian) {
    check.kind = TargetKind::kNotATarget;
  } else {
    check.kind = TargetKind::kPartlyPatched;
  }
  return check;
}

std::optional<TargetCheck> CheckTarget(const std::filesystem::path& path) {
  if (!ProbeTarget(path)) return std::nullopt;
  FileBuffer buffer = ReadTarget(path);
  return CheckBytes(buffer.bytes());
}

}  // namespace ombrix
