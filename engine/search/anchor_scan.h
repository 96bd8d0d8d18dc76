// The inner loops of the image search: finding the next start offset at which two bytes of an
// image (its anchors) agree with the buffer, for one image or for any of a set at once. With
// SSE2, SSSE3 or AVX2 where the processor has them, chosen once at run time; one offset at a
// time elsewhere.
#ifndef OMBRIX_ENGINE_SEARCH_ANCHOR_SCAN_H_
#define OMBRIX_ENGINE_SEARCH_ANCHOR_SCAN_H_

#include <cstddef>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace ombrix {

// How rarely a byte occurs in an executable, the higher the rarer: zero bytes and blanks (which
// pad every UTF-16 text) are everywhere, capital letters are rare. An image's anchors are its
// rarest bytes.
int AnchorRarity(unsigned char byte);

// The two anchors of an image in a set lie this far apart: the low bytes of two characters in a
// row of a text image.
inline constexpr std::size_t kAnchorGap = 2;

// The offset of the rarest two bytes kAnchorGap apart in `images` (all as long, and longer than
// kAnchorGap), each byte counted as the commonest of the images' bytes there; the first where
// several are as rare.
std::size_t RarestAnchorPair(std::span<const std::string_view> images);

// A search that compares images in full where their anchors agree gives up on the anchors once
// the comparisons cost this many bytes more than twice the bytes it scanned.
inline constexpr std::size_t kVerifySlack = std::size_t{1} << 16;

// Returns the lowest offset in [from, end) at which first_bytes[offset] == first and
// second_bytes[offset] == second, or `end`. Reads no byte at or past index `end` of either.
std::size_t NextAnchorMatch(const unsigned char* first_bytes, const unsigned char* second_bytes,
                            unsigned char first, unsigned char second, std::size_t from,
                            std::size_t end);

// Which images of a set of at most eight (bit i for image i) have a given byte as one of their
// anchors, by the halves of the byte: image i's anchor is the byte 16 * h + l where bit i is
// set in both low[l] and high[h]. Where an image is given more than one byte for an anchor,
// the table also takes the bytes made of the halves of different ones.
struct AnchorTable {
  unsigned char low[16] = {};
  unsigned char high[16] = {};

  void Add(unsigned bit, unsigned char anchor) {
    low[anchor & 15] |= static_cast<unsigned char>(bit);
    high[anchor >> 4] |= static_cast<unsigned char>(bit);
  }
  // The images whose anchor is `byte` (or may be, where one was given several).
  unsigned Of(unsigned char byte) const { return low[byte & 15] & high[byte >> 4]; }
};

// Returns the lowest offset in [from, end) at which, for some image of `which`,
// first_bytes[offset] is its first anchor and second_bytes[offset] its second, or `end`. Reads
// no byte at or past index `end` of either.
std::size_t NextAnchorMatchOfAny(const unsigned char* first_bytes,
                                 const unsigned char* second_bytes, const AnchorTable& first,
                                 const AnchorTable& second, unsigned which, std::size_t from,
                                 std::size_t end);

// Each way of NextAnchorMatchOfAny that this processor runs, by the name of its instructions,
// the plain one first: for the tests, which hold each against the plain one.
using AnchorMatchOfAny = std::size_t (*)(const unsigned char*, const unsigned char*,
                                         const AnchorTable&, const AnchorTable&, unsigned,
                                         std::size_t, std::size_t);
std::vector<std::pair<const char*, AnchorMatchOfAny>> AnchorMatchesOfAnyHere();

// The instructions NextAnchorMatch uses on this processor: "avx2", "sse2" or "plain".
// NextAnchorMatchOfAny uses AVX2 where that does, else SSSE3 where the processor has it.
const char* AnchorScanKind();

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_SEARCH_ANCHOR_SCAN_H_
