#include "engine/search/image_set.h"

#include <bit>
#include <cassert>
#include <cstring>

namespace ombrix {

ImageSet::ImageSet(std::span<const ImageSearcher* const> images) {
  assert(images.size() <= kMostImages);
  for (std::size_t i = 0; i < images.size(); ++i) {
    const std::string& needle = images[i]->needle();
    const std::string_view text[] = {needle};
    const std::size_t anchor = needle.size() > kAnchorGap ? RarestAnchorPair(text) : 0;
    images_.push_back({&needle, anchor});
    if (needle.size() <= kAnchorGap) continue;
    const unsigned bit = 1u << i;
    anchored_ |= bit;
    first_.Add(bit, static_cast<unsigned char>(needle[anchor]));
    second_.Add(bit, static_cast<unsigned char>(needle[anchor + kAnchorGap]));
  }
}

bool ImageSet::MayHold(std::span<const char> haystack, unsigned which) const {
  if ((which & ~anchored_) != 0) return true;
  if (haystack.size() <= kAnchorGap) return false;  // no image of a set is that short
  const auto* bytes = reinterpret_cast<const unsigned char*>(haystack.data());
  const std::size_t end = haystack.size() - kAnchorGap;  // one past the last first anchor
  std::size_t verified = 0;  // bytes compared in full, against the bytes scanned
  for (std::size_t at = 0;; ++at) {
    at = NextAnchorMatchOfAny(bytes, bytes + kAnchorGap, first_, second_, which, at, end);
    if (at == end) return false;
    for (unsigned agreeing = first_.Of(bytes[at]) & second_.Of(bytes[at + kAnchorGap]) & which;
         agreeing != 0; agreeing &= agreeing - 1) {
      const Image& image = images_[static_cast<std::size_t>(std::countr_zero(agreeing))];
      const std::size_t size = image.needle->size();
      if (size > haystack.size() || at < image.anchor ||
          at - image.anchor > haystack.size() - size) {
        continue;
      }
      if (std::memcmp(bytes + at - image.anchor, image.needle->data(), size) == 0) return true;
      verified += size;
    }
    if (verified > 2 * at + kVerifySlack) return true;
  }
}

}  // namespace ombrix
