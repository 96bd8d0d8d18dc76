#include "ui/claim_files.h"

#include "ui/startup_guard.h"

namespace ombrix {

std::vector<LockFolder> LockFolders(const std::function<std::string(const char*)>& variable) {
  const auto absolute = [&](const char* name) {
    std::string value = variable(name);
    return !value.empty() && value[0] == '/' ? value : std::string();
  };
  std::vector<LockFolder> folders;
  if (const std::string runtime = absolute("XDG_RUNTIME_DIR"); !runtime.empty()) {
    folders.push_back({runtime, false});
  }
  std::string cache = absolute("XDG_CACHE_HOME");
  if (cache.empty()) {
    const std::string home = absolute("HOME");
    if (home.empty()) return folders;
    cache = home + "/.cache";
  }
  folders.push_back({cache + "/ombrix-patch", true});
  return folders;
}

std::string LockFileName(std::string_view marked_title, const LockFolder& folder,
                         std::string_view host) {
  std::string name = ClaimName(marked_title);
  if (folder.shared_between_hosts) {
    name += '-';
    // A name may hold no slash.
    for (const char c : host) name += c == '/' ? '_' : c;
  }
  return name + ".lock";
}

}  // namespace ombrix
