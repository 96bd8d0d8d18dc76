// The replacement of a run as its definition states it, plainly: for each pair in table order,
// the first occurrence of the image to be replaced, found with std::search over the buffer as
// changed by the pairs before it. Tests and the fuzzer hold the engine against it.
#ifndef OMBRIX_ENGINE_TESTING_REFERENCE_PATCH_H_
#define OMBRIX_ENGINE_TESTING_REFERENCE_PATCH_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/patch_images.h"

namespace ombrix::testing {

std::optional<ReplacedRanges> ReferenceReplace(std::span<char> buffer, PatchDirection direction);

// The lowest offset at which `image` occurs in `buffer`, found with std::search.
std::optional<std::size_t> ReferenceFind(std::string_view image, std::string_view buffer);

// Makes test buffers from `recipe`: each byte either stands for itself or, from 0xF0 on, for an
// image of the patch (0xF0-0xF2 English 1-3, 0xF3-0xF5 Norwegian 1-3); 0xF6 and 0xF7 drop as
// many bytes as the next byte's value from the end or the start of the image that follows, so
// that images overlap (the blanks that end one being those that begin the next). The fuzzer
// mutates recipes, so its inputs hold the images, whole, cut and overlapping, at every
// alignment.
std::string BufferFromRecipe(std::span<const unsigned char> recipe);

}  // namespace ombrix::testing

#endif  // OMBRIX_ENGINE_TESTING_REFERENCE_PATCH_H_
