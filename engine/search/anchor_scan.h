// The inner loop of the image search: finding the next start offset at which two bytes of the
// image (its anchors) agree with the buffer. With SSE2 or AVX2 where the processor has them,
// chosen once at run time; one offset at a time elsewhere.
#ifndef OMBRIX_ENGINE_SEARCH_ANCHOR_SCAN_H_
#define OMBRIX_ENGINE_SEARCH_ANCHOR_SCAN_H_

#include <cstddef>

namespace ombrix {

// Returns the lowest offset in [from, end) at which first_bytes[offset] == first and
// second_bytes[offset] == second, or `end`. Reads no byte at or past index `end` of either.
std::size_t NextAnchorMatch(const unsigned char* first_bytes, const unsigned char* second_bytes,
                            unsigned char first, unsigned char second, std::size_t from,
                            std::size_t end);

// The instructions NextAnchorMatch uses on this processor: "avx2", "sse2" or "plain".
const char* AnchorScanKind();

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_SEARCH_ANCHOR_SCAN_H_
