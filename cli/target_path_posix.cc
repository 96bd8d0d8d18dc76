#include "cli/target_path.h"
#include "ui/wine_path.h"

namespace ombrix {

std::filesystem::path TargetPath(const std::filesystem::path& argument) {
  return LinuxPathOf(argument.native(), WinePrefix());
}

}  // namespace ombrix
