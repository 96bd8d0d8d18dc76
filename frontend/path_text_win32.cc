#include "engine/platform/win32_text.h"
#include "frontend/path_text.h"

namespace ombrix {

// u8string() would refuse a lone surrogate, which a Windows name may hold, with an exception.
std::string Utf8(const std::filesystem::path& path) { return Utf8FromWide(path.native()); }

std::filesystem::path PathFromUtf8(std::string_view text) { return WideFromUtf8(text); }

}  // namespace ombrix
