// libFuzzer target: the replacement over a buffer, held against the plain definition. The input
// is a recipe (see BufferFromRecipe): bytes and the patch's images, whole, cut and overlapping.
// Its first byte chooses the direction and the size of the parts in which the buffer is
// searched while it "fills", as a run searches a file while reading it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/image_search.h"
#include "engine/patch_images.h"
#include "engine/testing/reference_patch.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Made once: building the searchers' tables costs more than a whole input.
struct Searchers {
  std::vector<std::pair<std::string, std::unique_ptr<ombrix::ImageSearcher>>> images;
  ombrix::PatchImages apply{ombrix::PatchDirection::kApply};
  ombrix::PatchImages restore{ombrix::PatchDirection::kRestore};
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ombrix;
  if (size == 0) return 0;
  const auto direction = data[0] & 1 ? PatchDirection::kRestore : PatchDirection::kApply;
  const std::size_t part = 1 + (data[0] >> 1) * 3;  // 1 to 382 bytes
  const std::string original = testing::BufferFromRecipe({data + 1, size - 1});
  static const Searchers searchers;

  // Every image, searched alone, is found where std::search finds it.
  for (const auto& [image, searcher] : searchers.images) {
    Require(searcher->FindIn({original.data(), original.size()}) ==
            testing::ReferenceFind(image, original));
  }

  std::string expected = original;
  const auto expected_ranges =
      testing::ReferenceReplace({expected.data(), expected.size()}, direction);
  const PatchImages& images =
      direction == PatchDirection::kApply ? searchers.apply : searchers.restore;

  std::string whole = original;
  Require(images.ReplaceIn({whole.data(), whole.size()}) == expected_ranges);
  std::string parts = original;
  OccurrenceScan scan(images);
  for (std::size_t filled = 0; filled < parts.size();) {
    filled = std::min(parts.size(), filled + part);
    scan.Scan({parts.data(), filled});
  }
  Require(images.ReplaceIn({parts.data(), parts.size()}, scan.occurrences()) == expected_ranges);
  if (expected_ranges) Require(whole == expected && parts == expected);
  return 0;
}
