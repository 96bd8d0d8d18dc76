#include "engine/image_search.h"

#include <cassert>

namespace ombrix {

ImageSearcher::ImageSearcher(std::string_view needle)
    : needle_(needle), searcher_(needle_.begin(), needle_.end()) {
  assert(!needle_.empty());
}

std::optional<std::size_t> ImageSearcher::FindIn(std::span<const char> haystack) const {
  const auto [first, last] = searcher_(haystack.begin(), haystack.end());
  if (first == last) return std::nullopt;
  return static_cast<std::size_t>(first - haystack.begin());
}

}  // namespace ombrix
