// Converting text between UTF-8, in which the project's own strings are written, and the
// UTF-16 of the Windows API.
#ifndef OMBRIX_ENGINE_PLATFORM_WIN32_TEXT_H_
#define OMBRIX_ENGINE_PLATFORM_WIN32_TEXT_H_

#include <string>
#include <string_view>

namespace ombrix {

// Invalid sequences become U+FFFD.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PLATFORM_WIN32_TEXT_H_
