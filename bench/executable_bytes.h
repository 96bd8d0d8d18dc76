// Targets for measuring: bytes like those of an executable (runs of zeros, blank pairs, random
// bytes, UTF-16 words), made fast enough for files of a gigabyte, with the three English images
// near the end so that every search scans nearly all of it.
#ifndef OMBRIX_BENCH_EXECUTABLE_BYTES_H_
#define OMBRIX_BENCH_EXECUTABLE_BYTES_H_

#include <array>
#include <cstdint>
#include <span>

#include "engine/search/patch_table.h"

namespace ombrix::bench {

// Fills `bytes` with executable-like bytes that hold no image of the patch; the same seed
// gives the same bytes.
void FillExecutableLike(std::span<char> bytes, std::uint64_t seed = 1);

// Writes the English image of each pair into the last 64 KiB of `bytes` (the first at an odd
// offset) and returns their offsets. REQUIRES: `bytes` holds at least 64 KiB.
std::array<std::uint64_t, PatchTable.size()> PlaceEnglishImagesNearTheEnd(std::span<char> bytes);

}  // namespace ombrix::bench

#endif  // OMBRIX_BENCH_EXECUTABLE_BYTES_H_
