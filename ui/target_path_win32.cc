#include "cli/target_path.h"

namespace ombrix {

std::filesystem::path TargetPath(const std::filesystem::path& argument) { return argument; }

std::string_view TargetPathHelp() { return {}; }

}  // namespace ombrix
