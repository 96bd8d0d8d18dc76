#include "cli/target_path.h"

namespace ombrix {

std::filesystem::path TargetPath(const std::filesystem::path& argument) { return argument; }

}  // namespace ombrix
