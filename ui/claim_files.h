// Where copies of the tool claim the marked title on Linux: a lock file in each of the user's
// lock folders. The Linux window takes them; the Windows window under Wine takes the same
// files through Wine's Z: drive, so that either kind of copy keeps the other out.
#ifndef OMBRIX_UI_CLAIM_FILES_H_
#define OMBRIX_UI_CLAIM_FILES_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix {

// A folder where copies of the tool of this user take their locks: a Unix path.
struct LockFolder {
  std::string path;
  bool shared_between_hosts = false;  // a home folder: each host's copies lock apart
};

// The lock folders, in the order they are taken, as the environment `variable` (empty where
// unset) names them: $XDG_RUNTIME_DIR, and "ombrix-patch" in the user's cache folder
// ($XDG_CACHE_HOME, else $HOME/.cache). Only absolute paths count.
std::vector<LockFolder> LockFolders(const std::function<std::string(const char*)>& variable);

// The lock file's name in `folder` for `marked_title`; `host` is this machine's name, for a
// folder shared between hosts.
std::string LockFileName(std::string_view marked_title, const LockFolder& folder,
                         std::string_view host);

}  // namespace ombrix

#endif  // OMBRIX_UI_CLAIM_FILES_H_
