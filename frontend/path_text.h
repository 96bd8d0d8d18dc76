// Paths as UTF-8 text and back, for messages, reports and lists of paths: on Linux a name is
// its bytes, on Windows its UTF-16 converted.
#ifndef OMBRIX_FRONTEND_PATH_TEXT_H_
#define OMBRIX_FRONTEND_PATH_TEXT_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace ombrix {

// The path as UTF-8 text; a Windows name's lone surrogate becomes U+FFFD. On Linux the bytes
// are kept as they are, UTF-8 or not.
std::string Utf8(const std::filesystem::path& path);

// The path that UTF-8 `text` spells (a window's text, a line of a list). On Linux the bytes are
// taken as they are; on Windows bytes that are not UTF-8 become U+FFFD.
std::filesystem::path PathFromUtf8(std::string_view text);

// The path a line of a list without a byte-order mark spells. On Linux its bytes, as they are.
// On Windows UTF-8 where it is UTF-8, else the console's code page (as `dir /b > list` writes
// it); bytes that neither reads are kept as escapes (\xE5), so the name is shown, not lost.
std::filesystem::path PathFromListText(std::string_view text);

}  // namespace ombrix

#endif  // OMBRIX_FRONTEND_PATH_TEXT_H_
