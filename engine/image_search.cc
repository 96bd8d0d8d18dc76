#include "engine/image_search.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>

namespace ombrix {
namespace {

// Sixteen bytes compared at once: SSE2 registers on x86, plain code where there are none.
constexpr std::size_t kLanes = 16;
using Lanes = unsigned char __attribute__((vector_size(kLanes)));

Lanes Splat(unsigned char byte) {
  Lanes lanes;
  for (std::size_t i = 0; i < kLanes; ++i) lanes[i] = byte;
  return lanes;
}

Lanes Load(const unsigned char* bytes) {
  Lanes lanes;
  std::memcpy(&lanes, bytes, kLanes);
  return lanes;
}

// How rarely a byte occurs in an executable: zero bytes and blanks (which pad every UTF-16
// text) are everywhere, capital letters are rare.
int Rarity(unsigned char byte) {
  if (byte == 0x00) return 0;
  if (byte == ' ' || byte == 0xFF) return 1;
  if (byte >= 'A' && byte <= 'Z') return 4;
  if ((byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')) return 3;
  return 2;
}

// Verification may cost this many bytes beyond twice the bytes scanned before the search
// gives up on the anchors.
constexpr std::size_t kVerifySlack = std::size_t{1} << 16;

}  // namespace

ImageSearcher::ImageSearcher(std::string_view needle)
    : needle_(needle), fallback_(needle_.begin(), needle_.end()) {
  assert(!needle_.empty());
  // The first of the rarest bytes, and the last byte of the rarest kind left besides it.
  const auto rarity = [&](std::size_t i) { return Rarity(static_cast<unsigned char>(needle_[i])); };
  first_anchor_ = 0;
  for (std::size_t i = 1; i < needle_.size(); ++i) {
    if (rarity(i) > rarity(first_anchor_)) first_anchor_ = i;
  }
  second_anchor_ = first_anchor_;
  int best = -1;
  for (std::size_t i = 0; i < needle_.size(); ++i) {
    if (i != first_anchor_ && rarity(i) >= best) {
      best = rarity(i);
      second_anchor_ = i;
    }
  }
}

std::optional<std::size_t> ImageSearcher::FindIn(std::span<const char> haystack) const {
  return FindFrom(haystack, 0);
}

std::optional<std::size_t> ImageSearcher::FindFrom(std::span<const char> haystack,
                                                   std::size_t start) const {
  const std::size_t size = needle_.size();
  if (haystack.size() < size) return std::nullopt;
  const std::size_t last_start = haystack.size() - size;
  const auto* bytes = reinterpret_cast<const unsigned char*>(haystack.data());
  const auto first = static_cast<unsigned char>(needle_[first_anchor_]);
  const auto second = static_cast<unsigned char>(needle_[second_anchor_]);
  std::size_t verified = 0;

  // Compares the whole needle at `offset`; false also when verifying has cost too much.
  bool give_up = false;
  const auto matches_at = [&](std::size_t offset) {
    verified += size;
    give_up = verified > 2 * (offset - start) + kVerifySlack;
    return std::memcmp(bytes + offset, needle_.data(), size) == 0;
  };
  const auto rest_by_fallback = [&](std::size_t from) -> std::optional<std::size_t> {
    const auto [found, end] =
        fallback_(haystack.begin() + static_cast<std::ptrdiff_t>(from), haystack.end());
    if (found == end) return std::nullopt;
    return static_cast<std::size_t>(found - haystack.begin());
  };

  const Lanes want_first = Splat(first);
  const Lanes want_second = Splat(second);
  std::size_t offset = start;
  for (; offset + kLanes - 1 <= last_start; offset += kLanes) {
    const auto hits = (Load(bytes + offset + first_anchor_) == want_first) &
                      (Load(bytes + offset + second_anchor_) == want_second);
    std::uint64_t any[2];
    std::memcpy(any, &hits, sizeof(any));
    if ((any[0] | any[1]) == 0) continue;
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      if (hits[lane] == 0) continue;
      if (matches_at(offset + lane)) return offset + lane;
      if (give_up) return rest_by_fallback(offset + lane + 1);
    }
  }
  for (; offset <= last_start; ++offset) {
    if (bytes[offset + first_anchor_] == first && bytes[offset + second_anchor_] == second &&
        matches_at(offset)) {
      return offset;
    }
  }
  return std::nullopt;
}

}  // namespace ombrix
