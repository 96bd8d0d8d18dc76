#include "frontend/target_path.h"
#include "frontend/wine_path.h"

namespace ombrix {

std::filesystem::path TargetPath(const std::filesystem::path& typed) {
  return LinuxPathOf(typed.native(), WinePrefix());
}

std::string WhereLookedFor(const std::filesystem::path& typed) {
  if (!StartsWithDrive(typed.native())) return {};
  return " (looked for in the Wine prefix " + WinePrefix().string() + ")";
}

std::string_view TargetPathHelp() {
  return "\n"
         "A PATH that begins with a drive letter (C:\\...) names a file in the Wine prefix\n"
         "($WINEPREFIX, else ~/.wine), found as Wine finds it; any other PATH is as typed.\n";
}

}  // namespace ombrix
