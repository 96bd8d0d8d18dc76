#include "frontend/target_path.h"

namespace ombrix {

std::filesystem::path TargetPath(const std::filesystem::path& typed) { return typed; }

std::string_view TargetPathHelp() { return {}; }

}  // namespace ombrix
