#include "frontend/wine_path.h"

#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

namespace ombrix {
namespace {

// Folds the letters Windows file names use most to lower case: ASCII and the Latin-1 letters
// (Æ, Ø, Å and their kin), in UTF-8. Other characters are kept as they are.
std::string Folded(std::string_view name) {
  std::string folded;
  folded.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte >= 'A' && byte <= 'Z') {
      folded.push_back(static_cast<char>(byte + ('a' - 'A')));
    } else if (byte == 0xC3 && i + 1 < name.size()) {
      // U+00C0..U+00DE, except U+00D7 (the multiplication sign), fold to U+00E0..U+00FE.
      const auto next = static_cast<unsigned char>(name[i + 1]);
      const bool upper = next >= 0x80 && next <= 0x9E && next != 0x97;
      folded.push_back(name[i]);
      folded.push_back(static_cast<char>(upper ? next + 0x20 : next));
      ++i;
    } else {
      folded.push_back(name[i]);
    }
  }
  return folded;
}

// The entry of `folder` named `part`: exactly, else without regard to case, else `part` as it
// is (so that the path leads nowhere, as the typed one does).
std::filesystem::path Child(const std::filesystem::path& folder, const std::string& part) {
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::symlink_status(folder / part, error))) {
    return folder / part;
  }
  const std::string wanted = Folded(part);
  for (std::filesystem::directory_iterator entries(folder, error), end; !error && entries != end;
       entries.increment(error)) {
    const std::string name = entries->path().filename().string();
    if (Folded(name) == wanted) return folder / name;
  }
  return folder / part;
}

}  // namespace

bool StartsWithDrive(std::string_view typed) {
  return typed.size() >= 2 && typed[1] == ':' &&
         ((typed[0] >= 'A' && typed[0] <= 'Z') || (typed[0] >= 'a' && typed[0] <= 'z'));
}

std::filesystem::path WinePrefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
    return prefix;
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : "") / ".wine";
}

std::filesystem::path LinuxPathOf(std::string_view typed, const std::filesystem::path& prefix) {
  if (!StartsWithDrive(typed)) return std::filesystem::path(std::string(typed));
  const char drive = static_cast<char>(typed[0] | 0x20);  // lower case, as dosdevices names it
  // The folders from the drive's root down; ".." stops at the root, as it does on a drive.
  std::vector<std::filesystem::path> folders = {prefix / "dosdevices" / std::string{drive, ':'}};
  // After "C:" without a backslash comes the drive's current folder, which is its root here.
  std::string_view rest = typed.substr(2);
  while (!rest.empty()) {
    const std::size_t end = rest.find_first_of("\\/");
    std::string part(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (part == "..") {
      if (folders.size() > 1) folders.pop_back();
      continue;
    }
    // Windows, and Wine with it, drop the dots and blanks that end a name.
    if (part != ".") part.erase(part.find_last_not_of(". ") + 1);
    if (part.empty() || part == ".") continue;
    folders.push_back(Child(folders.back(), part));
  }
  return folders.back();
}

}  // namespace ombrix
