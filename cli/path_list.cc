#include "cli/path_list.h"

#include <string>

#include "ui/path_text.h"

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
  // Read through the stream, not its buffer: a failed read (a folder given as the list) then
  // marks the stream bad instead of ending the list early.
  std::string list;
  char part[1 << 16];
  while (in.read(part, sizeof part) || in.gcount() > 0) {
    list.append(part, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) return false;
  const std::vector<std::filesystem::path> read = SplitPathList(list, null);
  paths.insert(paths.end(), read.begin(), read.end());
  return true;
}

}  // namespace ombrix
