// Windows paths typed on Linux: a path that begins with a drive letter, such as the default
// "C:\Programfiler\Ombrix\Ombrix.exe", names a file in a Wine prefix, found as Wine itself
// finds it.
#ifndef OMBRIX_FRONTEND_WINE_PATH_H_
#define OMBRIX_FRONTEND_WINE_PATH_H_

#include <filesystem>
#include <string_view>

namespace ombrix {

// Whether `typed` begins with a drive letter and a colon ("C:").
bool StartsWithDrive(std::string_view typed);

// The Wine prefix of this user: $WINEPREFIX, else ~/.wine.
std::filesystem::path WinePrefix();

// For a path that begins with a drive letter and a colon, the file it names in `prefix`, read
// as Wine reads it: the drive through dosdevices/<letter>:, the rest split at backslashes and
// slashes ("C:x.exe" being in the drive's root), the dots and blanks that end a name dropped,
// ".." going no higher than the drive's root, and each part matched without regard to letter
// case where the exact name is absent. Any other path is returned exactly as typed. `typed` is
// UTF-8.
std::filesystem::path LinuxPathOf(std::string_view typed, const std::filesystem::path& prefix);

}  // namespace ombrix

#endif  // OMBRIX_FRONTEND_WINE_PATH_H_
