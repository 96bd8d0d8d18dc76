// The file a path typed by the user names, the same for the console program and the windows: on
// Linux a path that begins with a drive letter leads into the Wine prefix; on Windows every path
// is used as typed.
#ifndef OMBRIX_FRONTEND_TARGET_PATH_H_
#define OMBRIX_FRONTEND_TARGET_PATH_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace ombrix {

// The file `typed` names (a command line's argument, a window's text, a line of a list).
std::filesystem::path TargetPath(const std::filesystem::path& typed);

// Where `typed` was looked for, where that is not plain, for a report that it is no file:
// " (looked for in the Wine prefix /home/kari/.wine)"; nothing where the path is used as typed.
std::string WhereLookedFor(const std::filesystem::path& typed);

// What a help text says of the paths this platform reads otherwise than as typed: a paragraph
// that begins with an empty line, or nothing where there are none.
std::string_view TargetPathHelp();

}  // namespace ombrix

#endif  // OMBRIX_FRONTEND_TARGET_PATH_H_
