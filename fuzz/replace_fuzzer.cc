// libFuzzer target: a run's scan over a buffer, held against the plain definition. The input
// is a recipe (see BufferFromRecipe): bytes and the patch's images, whole, cut, torn and
// overlapping, and holes. Its first byte chooses the direction and the size of the parts in which
// the buffer is handed to the scan, as a run reads a file through its buffer, down to a single
// byte; the scan skips the holes as a run skips a sparse file's, and the plain definition reads
// every byte.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/run/target_check.h"
#include "engine/search/image_search.h"
#include "engine/search/patch_images.h"
#include "engine/search/torn_scan.h"
#include "engine/testing/reference_patch.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Made once: building the searchers' tables costs more than a whole input.
struct Searchers {
  std::vector<std::pair<std::string, std::unique_ptr<ombrix::ImageSearcher>>> images;
  ombrix::PatchImages patch;
  Searchers() {
    for (const ombrix::TextPair& pair : ombrix::PatchTable) {
      for (const std::string_view text : {pair.english, pair.norwegian}) {
        std::string image = ombrix::MakeUnicode(text);
        auto searcher = std::make_unique<ombrix::ImageSearcher>(image);
        images.emplace_back(std::move(image), std::move(searcher));
      }
    }
  }
};

// The run's overwrites, the buffer handed over `part` bytes at a time, `holes` skipped.
std::optional<ombrix::Replacements> Scan(const Searchers& searchers, const std::string& bytes,
                                         ombrix::PatchDirection direction, std::size_t part,
                                         std::span<const ombrix::Stretch> holes) {
  ombrix::RunScan scan(searchers.patch, direction);
  ombrix::ScanInParts({bytes.data(), bytes.size()}, scan.scanner(), part, holes);
  return scan.Result();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ombrix;
  if (size == 0) return 0;
  const auto direction = data[0] & 1 ? PatchDirection::kRestore : PatchDirection::kApply;
  const std::size_t part = 1 + (data[0] >> 1) * 3;  // 1 to 382 bytes
  std::vector<Stretch> holes;
  const std::string original = test::BufferFromRecipe({data + 1, size - 1}, &holes);
  static const Searchers searchers;

  // Every image, searched alone, is found where std::search finds it.
  for (const auto& [image, searcher] : searchers.images) {
    Require(searcher->FindIn({original.data(), original.size()}) ==
            test::ReferenceFind(image, original));
  }

  std::string expected = original;
  const std::optional<Replacements> expected_replacements =
      test::ReferenceRun({expected.data(), expected.size()}, direction);
  const std::optional<Replacements> in_parts = Scan(searchers, original, direction, part, holes);
  Require(in_parts == expected_replacements);
  Require(Scan(searchers, original, direction, original.size() + 1, {}) == expected_replacements);
  if (in_parts) {
    std::string written = original;
    test::Apply(*in_parts, {written.data(), written.size()});
    Require(written == expected);
  }

  // The first text of each pair that a write in place cut short is where the plain definition
  // finds it.
  TornScan torn;
  ScanInParts({original.data(), original.size()}, torn, part, holes);
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    Require(torn.found(i) == test::ReferenceFindTorn(i, original));
  }

  // What --check says of the buffer agrees with the runs' plain definition both ways.
  const TargetCheck check =
      CheckBytes(searchers.patch, {original.data(), original.size()}, part, holes);
  std::string other = original;
  const auto other_direction =
      direction == PatchDirection::kApply ? PatchDirection::kRestore : PatchDirection::kApply;
  const bool other_completes =
      test::ReferenceRun({other.data(), other.size()}, other_direction).has_value();
  const bool patch =
      direction == PatchDirection::kApply ? expected_replacements.has_value() : other_completes;
  const bool restore =
      direction == PatchDirection::kRestore ? expected_replacements.has_value() : other_completes;
  Require((check.kind == TargetKind::kUnpatched) == patch && check.restorable == restore);
  for (std::size_t i = 0; i < PatchTable.size(); ++i) {
    Require(check.pairs[i].english ==
            test::ReferenceFind(TextImage(i, Language::kEnglish), original));
    Require(check.pairs[i].norwegian ==
            test::ReferenceFind(TextImage(i, Language::kNorwegian), original));
  }
  return 0;
}
