#include "engine/search/image_search.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/search/anchor_scan.h"

namespace ombrix {

ImageSearcher::ImageSearcher(std::string_view needle)
    : needle_(needle), fallback_(needle_.begin(), needle_.end()) {
  assert(!needle_.empty());
  // The first of the rarest bytes, and the last byte of the rarest kind left besides it.
  const auto rarity = [&](std::size_t i) {
    return AnchorRarity(static_cast<unsigned char>(needle_[i]));
  };
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
  const std::size_t size = needle_.size();
  if (haystack.size() < size) return std::nullopt;
  const std::size_t end = haystack.size() - size + 1;  // one past the last possible start
  const auto* bytes = reinterpret_cast<const unsigned char*>(haystack.data());
  const auto first = static_cast<unsigned char>(needle_[first_anchor_]);
  const auto second = static_cast<unsigned char>(needle_[second_anchor_]);
  std::size_t verified = 0;  // bytes compared in full, against the bytes scanned
  for (std::size_t offset = 0;; ++offset) {
    offset =
        NextAnchorMatch(bytes + first_anchor_, bytes + second_anchor_, first, second, offset, end);
    if (offset == end) return std::nullopt;
    if (std::memcmp(bytes + offset, needle_.data(), size) == 0) return offset;
    verified += size;
    if (verified > 2 * offset + kVerifySlack) {
      const auto [found, found_end] =
          fallback_(haystack.begin() + static_cast<std::ptrdiff_t>(offset + 1), haystack.end());
      if (found == found_end) return std::nullopt;
      return static_cast<std::size_t>(found - haystack.begin());
    }
  }
}

}  // namespace ombrix
