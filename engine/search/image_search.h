// Finding the first occurrence of a text image in a buffer, at any byte offset.
#ifndef OMBRIX_ENGINE_SEARCH_IMAGE_SEARCH_H_
#define OMBRIX_ENGINE_SEARCH_IMAGE_SEARCH_H_

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ombrix {

// Searches buffers for one fixed byte string. Building one costs a table of the needle; each
// search is a single pass over the buffer.
//
// The pass looks at two bytes of the needle that are rare in executables (its letters rather
// than its zero bytes and blanks), at many start offsets at once (anchor_scan.h), and compares
// the whole needle only where both agree. Should the buffer make that comparison work out of
// proportion (a file built to defeat it), the rest of the buffer is searched with Boyer-Moore,
// so the time stays linear in the buffer's size.
class ImageSearcher {
 public:
  // REQUIRES: `needle` is not empty.
  explicit ImageSearcher(std::string_view needle);
  ImageSearcher(const ImageSearcher&) = delete;
  ImageSearcher& operator=(const ImageSearcher&) = delete;

  // Returns the lowest offset at which the needle occurs in `haystack` byte for byte, or
  // std::nullopt when it does not occur.
  std::optional<std::size_t> FindIn(std::span<const char> haystack) const;

  std::size_t size() const { return needle_.size(); }
  const std::string& needle() const { return needle_; }

 private:
  const std::string needle_;
  std::size_t first_anchor_;   // offsets in the needle of the two bytes compared first
  std::size_t second_anchor_;  // (equal for a needle of one byte)
  const std::boyer_moore_searcher<std::string::const_iterator> fallback_;
};

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_SEARCH_IMAGE_SEARCH_H_
