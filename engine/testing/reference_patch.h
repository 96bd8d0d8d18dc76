// The plain definition of a run, for the tests and the fuzzer to hold the engine against, and
// the buffers they feed both.
#ifndef OMBRIX_ENGINE_TESTING_REFERENCE_PATCH_H_
#define OMBRIX_ENGINE_TESTING_REFERENCE_PATCH_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/search/patch_images.h"
#include "engine/search/stream_scan.h"

namespace ombrix::test {

// A run as its definition states it, plainly, over a buffer whole in memory. A patch: for each
// pair in table order, the first occurrence of the English image, found with std::search over
// the buffer as changed by the pairs before it, is overwritten by the Norwegian image; all three
// must be there. A restore: the same for each Norwegian image that is there, turned back into
// English; it must turn back one at least, no second Norwegian image of a pair it turned back
// may be left, and a patch of the result must then complete, writing exactly where the restore
// turned back. Returns
// the overwrites, or nothing when the run would not complete; `buffer` is left as the run leaves
// the file.
std::optional<Replacements> ReferenceRun(std::span<char> buffer, PatchDirection direction);

// Writes `replacements` over `bytes`, in order, as a run writes them into the file.
void Apply(const Replacements& replacements, std::span<char> bytes);

// The lowest offset at which `image` occurs in `buffer`, found with std::search.
std::optional<std::size_t> ReferenceFind(std::string_view image, std::string_view buffer);

// The lowest offset at which a text of pair `pair` is torn in `buffer`: each byte one of its two
// images' bytes there, and neither image whole.
std::optional<std::size_t> ReferenceFindTorn(std::size_t pair, std::string_view buffer);

// Makes test buffers from `recipe`: each byte either stands for itself or, from 0xF0 on, for an
// image of the patch (0xF0-0xF2 English 1-3, 0xF3-0xF5 Norwegian 1-3); 0xF6 and 0xF7 drop as
// many bytes as the next byte's value from the end or the start of the image that follows, so
// that images overlap (the blanks that end one being those that begin the next); 0xF8 makes a
// hole of as many zero bytes as the next byte's value, added to `holes` where given; 0xF9 takes
// as many bytes as the next byte's value at the start of the image that follows from its pair's
// other image, as a write in place cut short leaves a text. The fuzzer mutates recipes, so its
// inputs hold the images, whole, cut, torn and overlapping, at every alignment, and holes next
// to them and inside them.
std::string BufferFromRecipe(std::span<const unsigned char> recipe,
                             std::vector<Stretch>* holes = nullptr);

}  // namespace ombrix::test

#endif  // OMBRIX_ENGINE_TESTING_REFERENCE_PATCH_H_
