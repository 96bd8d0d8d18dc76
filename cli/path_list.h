// Lists of paths given to the console program with --files-from: one path a line, or one after
// each zero byte (--null), as `find -print0` writes them.
#ifndef OMBRIX_CLI_PATH_LIST_H_
#define OMBRIX_CLI_PATH_LIST_H_

#include <filesystem>
#include <istream>
#include <string_view>
#include <vector>

namespace ombrix {

// The paths that `list` holds, in order: each ends at a line end (a carriage return before it
// is dropped) or, with `null`, at a zero byte; the last needs no end. Empty entries are skipped.
// Every other byte, blanks included, is part of a path; the text is UTF-8.
std::vector<std::filesystem::path> SplitPathList(std::string_view list, bool null);

// Longer than any path a system takes (Windows' 32,767 characters, in UTF-8): a list that holds
// one is no list of paths.
inline constexpr std::size_t kLongestListedPath = 1 << 17;

// Reads the whole of `in` and splits it so. Returns false where reading failed, or (with errno
// ENAMETOOLONG) where an entry is longer than kLongestListedPath.
bool ReadPathList(std::istream& in, bool null, std::vector<std::filesystem::path>& paths);

}  // namespace ombrix

#endif  // OMBRIX_CLI_PATH_LIST_H_
