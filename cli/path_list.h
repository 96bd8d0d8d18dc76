// Lists of paths given to the console program with --files-from: one path a line, or one after
// each zero byte (--null), as `find -print0` writes them; in UTF-8 or, as Windows tools write
// them, with a byte-order mark (UTF-8, UTF-16) or in the console's code page.
#ifndef OMBRIX_CLI_PATH_LIST_H_
#define OMBRIX_CLI_PATH_LIST_H_

#include <filesystem>
#include <istream>
#include <string_view>
#include <vector>

namespace ombrix {

// The paths that `list` holds, in order: each ends at a line end (a carriage return before it
// is dropped) or, with `null`, at a zero byte; the last needs no end. Empty entries are skipped.
// Every other byte, blanks included, is part of a path; with `utf8` the text is UTF-8, else as
// PathFromListText reads it.
std::vector<std::filesystem::path> SplitPathList(std::string_view list, bool null,
                                                 bool utf8 = false);

// Longer than any path a system takes (Windows' 32,767 characters, in UTF-8): a list that holds
// one is no list of paths.
inline constexpr std::size_t kLongestListedPath = 1 << 17;

// Reads the whole of `in` and splits it so. A list that begins with a byte-order mark is UTF-8
// or UTF-16 (little- or big-endian) as the mark says, and the mark is no part of the first
// path. Returns false where reading failed, or (with errno ENAMETOOLONG) where an entry is
// longer than kLongestListedPath.
bool ReadPathList(std::istream& in, bool null, std::vector<std::filesystem::path>& paths);

}  // namespace ombrix

#endif  // OMBRIX_CLI_PATH_LIST_H_
