// Finding the first occurrence of a text image in a buffer, at any byte offset.
#ifndef OMBRIX_ENGINE_IMAGE_SEARCH_H_
#define OMBRIX_ENGINE_IMAGE_SEARCH_H_

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ombrix {

// Searches buffers for one fixed byte string. Building one costs a table of the needle; each
// search is a single pass over the buffer.
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

 private:
  const std::string needle_;
  const std::boyer_moore_searcher<std::string::const_iterator> searcher_;
};

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_IMAGE_SEARCH_H_
