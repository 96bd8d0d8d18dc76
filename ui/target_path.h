// The file a path given on the command line names: on Linux a path that begins with a drive
// letter leads into the Wine prefix, as in the window; on Windows every path is used as given.
#ifndef OMBRIX_CLI_TARGET_PATH_H_
#define OMBRIX_CLI_TARGET_PATH_H_

#include <filesystem>
#include <string_view>

namespace ombrix {

std::filesystem::path TargetPath(const std::filesystem::path& argument);

// What --help says of the paths this platform reads otherwise than as typed; empty where none.
std::string_view TargetPathHelp();

}  // namespace ombrix

#endif  // OMBRIX_CLI_TARGET_PATH_H_
