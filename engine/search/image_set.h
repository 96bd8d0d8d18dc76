// Telling in one pass over a buffer that none of several text images occurs in it.
#ifndef OMBRIX_ENGINE_SEARCH_IMAGE_SET_H_
#define OMBRIX_ENGINE_SEARCH_IMAGE_SET_H_

#include <cstddef>
#include <span>
#include <vector>

#include "engine/search/anchor_scan.h"
#include "engine/search/image_search.h"

namespace ombrix {

// Up to eight images looked for at once. Each has two anchors two bytes apart (the low bytes of
// two characters in a row of a text image, its letters rather than its blanks), and the pass
// looks up every byte of the buffer once, for all the images together, comparing an image in
// full only where both its anchors agree. Searching each image on its own costs a pass each.
class ImageSet {
 public:
  static constexpr std::size_t kMostImages = 8;

  // REQUIRES: at most kMostImages images, which outlive the set.
  explicit ImageSet(std::span<const ImageSearcher* const> images);

  // False only where none of the images whose bits are set in `which` (bit i: image i) occurs
  // in `haystack`. True where one does, where one is too short to have anchors, or where the
  // buffer makes the comparisons cost out of proportion (a file built to defeat the anchors):
  // each image is then best searched on its own.
  bool MayHold(std::span<const char> haystack, unsigned which) const;

 private:
  struct Image {
    const std::string* needle;
    std::size_t anchor;  // the offset in the needle of its first anchor; the second is 2 on
  };
  std::vector<Image> images_;
  unsigned anchored_ = 0;  // the images long enough to have anchors
  AnchorTable first_;
  AnchorTable second_;
};

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_SEARCH_IMAGE_SET_H_
