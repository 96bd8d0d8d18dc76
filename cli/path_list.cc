#include "cli/path_list.h"

#include <cerrno>
#include <string>

#include "frontend/path_text.h"

namespace ombrix {

std::vector<std::filesystem::path> SplitPathList(std::string_view list, bool null) {
  const char end = null ? '\0' : '\n';
  std::vector<std::filesystem::path> paths;
  while (!list.empty()) {
    const std::size_t at = list.find(end);
    std::string_view entry = list.substr(0, at);
    list = at == std::string_view::npos ? std::string_view() : list.substr(at + 1);
    if (!null && entry.ends_with('\r')) entry.remove_suffix(1);
    if (!entry.empty()) paths.push_back(PathFromUtf8(entry));
  }
  return paths;
}

bool ReadPathList(std::istream& in, bool null, std::vector<std::filesystem::path>& paths) {
  // Split as it is read, keeping only the entry not yet ended: a list may be long, and a
  // device given as the list (/dev/zero) must not fill the memory. Read through the stream,
  // not its buffer: a failed read (a folder given as the list) then marks the stream bad
  // instead of ending the list early.
  const char end = null ? '\0' : '\n';
  std::vector<std::filesystem::path> read;
  std::string pending;
  char part[1 << 16];
  while (in.read(part, sizeof part) || in.gcount() > 0) {
    pending.append(part, static_cast<std::size_t>(in.gcount()));
    const std::size_t last = pending.rfind(end);
    if (last != std::string::npos) {
      const std::vector<std::filesystem::path> ended =
          SplitPathList(std::string_view(pending).substr(0, last + 1), null);
      read.insert(read.end(), ended.begin(), ended.end());
      pending.erase(0, last + 1);
    }
    if (pending.size() > kLongestListedPath) {
      errno = ENAMETOOLONG;
      return false;
    }
  }
  if (in.bad()) return false;
  const std::vector<std::filesystem::path> last = SplitPathList(pending, null);
  read.insert(read.end(), last.begin(), last.end());
  paths.insert(paths.end(), read.begin(), read.end());
  return true;
}

}  // namespace ombrix
