// The claim where the windows of other programs cannot be seen: a lock file per title, in
// folders that only this user may enter, so that no other user can take or block it.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "ui/claim_files.h"
#include "ui/qt/window_titles.h"

namespace ombrix::qt {
namespace {

std::string HomeFolder() {
  const passwd* entry = ::getpwuid(::getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

std::string Reason(const std::string& path, const std::string& what) {
  return std::string("\"").append(path).append("\" ").append(what);
}

// The folder at `path`, opened, when it is this user's own and no one else may enter it;
// -1, with the reason in `why`, otherwise.
int OpenPrivateFolder(const std::string& path, std::string& why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd == -1) {
    why = Reason(path, std::string("cannot be opened: ") + std::strerror(errno));
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || info.st_uid != ::getuid() || (info.st_mode & 077) != 0) {
    ::close(fd);
    why = Reason(path, "is not a folder of this user's own with mode 0700");
    return -1;
  }
  return fd;
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

std::vector<LockFolder> LockFoldersOfThisUser() {
  std::vector<LockFolder> folders = LockFolders([](const char* name) -> std::string {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] == '/') return value;
    return std::string_view(name) == "HOME" ? HomeFolder() : "";
  });
  for (const LockFolder& folder : folders) {
    if (!folder.shared_between_hosts) continue;
    // Made private from the start; a folder found there is checked when a claim opens it.
    ::mkdir(std::filesystem::path(folder.path).parent_path().c_str(), 0700);
    ::mkdir(folder.path.c_str(), 0700);
  }
  return folders;
}

LockedWindowTitles::LockedWindowTitles(std::vector<LockFolder> folders, bool say_when_unguarded)
    : folders_(std::move(folders)), say_when_unguarded_(say_when_unguarded) {}

LockedWindowTitles::~LockedWindowTitles() {
  for (const int fd : held_) ::close(fd);
}

bool LockedWindowTitles::Claim(std::string_view title) {
  std::vector<int> taken;
  std::string why =
      folders_.empty() ? "this user has neither XDG_RUNTIME_DIR nor a home folder" : "";
  // Every copy takes the folders in the same order, so of two copies one always gets them all.
  for (const LockFolder& folder : folders_) {
    const int dir = OpenPrivateFolder(folder.path, why);
    if (dir == -1) continue;
    const std::string name = LockFileName(title, folder, HostName());
    const int fd = ::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    ::close(dir);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (fd != -1 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fcntl(fd, F_OFD_SETLK, &whole) == 0) {
      taken.push_back(fd);
      continue;
    }
    const int error = errno;
    if (fd != -1) ::close(fd);
    // Another copy holds it: a Linux copy the flock, the Windows program under Wine the other.
    if (fd != -1 && (error == EWOULDBLOCK || error == EACCES)) {
      for (const int held : taken) ::close(held);
      return false;
    }
    why =
        Reason(folder.path + "/" + name, std::string("cannot be locked: ") + std::strerror(error));
  }
  if (taken.empty() && say_when_unguarded_) {
    std::fprintf(stderr,
                 "ombrix-patch: there is no private place to mark this copy as running (%s); a "
                 "second copy of the tool will not be stopped.\n",
                 why.c_str());
  }
  held_.insert(held_.end(), taken.begin(), taken.end());
  return true;
}

}  // namespace ombrix::qt
