#include "frontend/path_text.h"

namespace ombrix {

std::string Utf8(const std::filesystem::path& path) { return path.native(); }

std::filesystem::path PathFromUtf8(std::string_view text) { return std::string(text); }

std::filesystem::path PathFromListText(std::string_view text) { return PathFromUtf8(text); }

}  // namespace ombrix
