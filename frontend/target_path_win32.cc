#include "frontend/target_path.h"

namespace ombrix {

std::filesystem::path TargetPath(const std::filesystem::path& typed) { return typed; }

std::string WhereLookedFor(const std::filesystem::path& /*typed*/) { return {}; }

std::string_view TargetPathHelp() {
  return "\n"
         "Switches may also be written with a slash: /check, /restore, /json, /quiet, /?.\n"
         "A PATH that is a slash and one word is taken for a switch: write \\Ombrix.exe or\n"
         "C:\\Ombrix.exe for a file in the drive's root.\n";
}

}  // namespace ombrix
