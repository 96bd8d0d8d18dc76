// The claim where the windows of other programs cannot be seen: a lock file per title, in a
// folder that only this user may write to, so that no other user can take or block it.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ui/qt/window_titles.h"
#include "ui/startup_guard.h"

namespace ombrix::qt {
namespace {

std::string Absolute(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && value[0] == '/' ? value : "";
}

std::string HomeFolder() {
  std::string home = Absolute("HOME");
  if (!home.empty()) return home;
  const passwd* entry = ::getpwuid(::getuid());
  return entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/' ? entry->pw_dir
                                                                                 : "";
}

// Whether `info` is a folder of this user's own that no one else may enter.
bool Private(const struct stat& info) {
  return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

std::string Reason(const std::string& path, const std::string& what) {
  return "\"" + path + "\" " + what;
}

// The user's cache folder's "ombrix-patch", made if missing and checked through its own
// descriptor, never through a name that could lead elsewhere.
std::optional<std::filesystem::path> CacheFolder(std::string& why) {
  std::string cache = Absolute("XDG_CACHE_HOME");
  if (cache.empty()) {
    const std::string home = HomeFolder();
    if (home.empty()) {
      why = "this user has no home folder";
      return std::nullopt;
    }
    cache = home + "/.cache";
  }
  const std::string folder = cache + "/ombrix-patch";
  for (const std::string& path : {cache, folder}) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      why = Reason(path, std::string("cannot be made: ") + std::strerror(errno));
      return std::nullopt;
    }
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd == -1) {
    why = Reason(folder, std::string("cannot be opened: ") + std::strerror(errno));
    return std::nullopt;
  }
  struct stat info {};
  const bool usable = ::fstat(fd, &info) == 0 && Private(info);
  ::close(fd);
  if (!usable) {
    why = Reason(folder, "is not a folder of this user's own with mode 0700");
    return std::nullopt;
  }
  return folder;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof(name) - 1) != 0) return "localhost";
  std::string host(name);
  for (char& c : host) {
    if (c == '/') c = '_';
  }
  return host;
}

}  // namespace

std::optional<std::filesystem::path> PrivateLockFolder(std::string& why) {
  const std::string runtime = Absolute("XDG_RUNTIME_DIR");
  struct stat info {};
  if (!runtime.empty() && ::stat(runtime.c_str(), &info) == 0 && Private(info)) return runtime;
  std::string cache_why;
  if (std::optional<std::filesystem::path> folder = CacheFolder(cache_why)) return folder;
  why = (runtime.empty() ? "XDG_RUNTIME_DIR is not set"
                         : Reason(runtime,
                                  "(XDG_RUNTIME_DIR) is not a folder of this user's own "
                                  "with mode 0700")) +
        ", and " + cache_why;
  return std::nullopt;
}

LockedWindowTitles::LockedWindowTitles(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::unique_ptr<LockedWindowTitles> LockedWindowTitles::Unguarded(std::string why) {
  auto titles = std::make_unique<LockedWindowTitles>(std::filesystem::path());
  titles->folder_.reset();
  titles->why_unguarded_ = std::move(why);
  return titles;
}

LockedWindowTitles::~LockedWindowTitles() {
  for (const int fd : held_) ::close(fd);
}

bool LockedWindowTitles::Claim(std::string_view title) {
  std::string why = why_unguarded_;
  if (folder_) {
    // The host's name keeps copies on other machines that share the home folder apart.
    const std::filesystem::path path = *folder_ / (ClaimName(title) + "-" + HostName() + ".lock");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd != -1 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      held_.push_back(fd);
      return true;
    }
    const int error = errno;
    if (fd != -1) ::close(fd);
    if (fd != -1 && error == EWOULDBLOCK) return false;  // another copy holds it
    why = Reason(path.string(), std::string("cannot be locked: ") + std::strerror(error));
  }
  std::fprintf(stderr,
               "ombrix-patch: there is no private place to mark this copy as running (%s); a "
               "second copy of the tool will not be stopped.\n",
               why.c_str());
  return true;
}

}  // namespace ombrix::qt
