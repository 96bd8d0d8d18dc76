#include "engine/platform/write_access_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <vector>

#include "engine/platform/file_attributes_linux.h"
#include "engine/platform/file_errors.h"

namespace ombrix {
namespace {

// The process's effective capabilities: what root may do, or part of it.
class Capabilities {
 public:
  Capabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) == 0) {
      effective_ = data[0].effective | std::uint64_t{data[1].effective} << 32;
    }
  }
  bool Has(int capability) const { return (effective_ >> capability & 1) != 0; }

 private:
  std::uint64_t effective_ = 0;
};

bool InGroup(gid_t group) {
  if (group == ::getegid()) return true;
  const int count = ::getgroups(0, nullptr);
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
  const int got = ::getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

// The file's owner, by name where the user has one.
IdentityLoss Owner(uid_t user) {
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(user, &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr) {
    return {IdentityPart::kOwner, found->pw_name};
  }
  return {IdentityPart::kOwner, std::to_string(user), false};
}

// The file's group, by name where it has one.
IdentityLoss Group(gid_t group) {
  struct group entry;
  struct group* found = nullptr;
  char buffer[4096];
  if (::getgrgid_r(group, &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr) {
    return {IdentityPart::kGroup, found->gr_name};
  }
  return {IdentityPart::kGroup, std::to_string(group), false};
}

// Whether this process may set the extended attribute `name` on a file it owns.
bool MaySet(const std::string& name, const Capabilities& capabilities) {
  if (name == "security.selinux") return true;  // the copy takes its folder's
  if (name == kCapabilityAttribute) return capabilities.Has(CAP_SETFCAP);
  if (name.starts_with("trusted.") || name.starts_with("security.")) {
    return capabilities.Has(CAP_SYS_ADMIN);
  }
  return true;  // user.*, system.posix_acl_*: the owner's
}

// The initial PID namespace's number (PROC_PID_INIT_INO): its /proc shows every process.
constexpr ino_t kInitialPidNamespace = 0xEFFFFFFC;

// Whether a program runs from the file `st` describes, which then does not open for writing
// (ETXTBSY): each process shows in /proc the file it runs. Unknown where not every process could
// be looked at: another user's, without CAP_SYS_PTRACE (hidepid hides them, too), or one outside
// this PID namespace.
enum class Running { kNo, kYes, kUnknown };
Running RunningFrom(const struct stat& st, const Capabilities& capabilities) {
  const int proc = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) return Running::kUnknown;
  const std::unique_ptr<DIR, int (*)(DIR*)> entries(::fdopendir(proc), ::closedir);
  if (!entries) {
    ::close(proc);
    return Running::kUnknown;
  }
  struct stat space;
  Running running = capabilities.Has(CAP_SYS_PTRACE) &&
                            ::fstatat(proc, "self/ns/pid", &space, 0) == 0 &&
                            space.st_ino == kInitialPidNamespace
                        ? Running::kNo
                        : Running::kUnknown;
  while (const struct dirent* entry = ::readdir(entries.get())) {
    if (std::isdigit(static_cast<unsigned char>(entry->d_name[0])) == 0) continue;
    struct stat exe;
    if (::fstatat(proc, (std::string(entry->d_name) + "/exe").c_str(), &exe, 0) == 0) {
      if (exe.st_dev == st.st_dev && exe.st_ino == st.st_ino) return Running::kYes;
    } else if (errno != ENOENT) {  // kernel threads and ended processes run no file
      running = Running::kUnknown;
    }
  }
  return running;
}

}  // namespace

bool OnOverlay(int fd) {
  struct statfs fs;
  return ::fstatfs(fd, &fs) == 0 && fs.f_type == OVERLAYFS_SUPER_MAGIC;
}

std::error_code AssessLinux(int file, int folder, const std::string& name, WriteAccess& access) {
  access = WriteAccess{};
  struct stat st;
  struct stat dir;
  if (::fstat(file, &st) != 0 || ::fstat(folder, &dir) != 0) {
    return {errno, std::system_category()};
  }
  std::uint32_t flags = 0;
  std::uint32_t folder_flags = 0;
  bool supported = false;
  std::vector<std::string> attributes;
  if (std::error_code error = GetFlags(file, flags, supported);
      error || (error = GetFlags(folder, folder_flags, supported)) ||
      (error = ListAttributes(file, attributes))) {
    return error;
  }
  if ((flags & FS_IMMUTABLE_FL) != 0) {
    access.refused = PatchErrc::kImmutable;
    return {};
  }
  if ((flags & FS_APPEND_FL) != 0) {
    access.refused = PatchErrc::kAppendOnly;
    return {};
  }
  // Permission, a read-only file system.
  if (::faccessat(folder, name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
    access.refused = {errno, std::system_category()};
    return {};
  }

  const Capabilities capabilities;
  const uid_t user = ::geteuid();
  const bool owner = st.st_uid == user || capabilities.Has(CAP_FOWNER);
  const bool in_group = InGroup(st.st_gid);

  // A new copy: made by this user in the folder, then given all the file has.
  std::vector<CopyObstacle>& cannot = access.copy_obstacles;
  std::vector<IdentityLoss>& not_kept = access.copy_would_lose;
  if ((folder_flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0) {
    cannot.push_back(CopyObstacle::kFolderLocked);
  } else if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) {
    cannot.push_back(CopyObstacle::kFolderClosed);
  } else if ((dir.st_mode & S_ISVTX) != 0 && st.st_uid != user && dir.st_uid != user &&
             !capabilities.Has(CAP_FOWNER)) {
    cannot.push_back(CopyObstacle::kFolderSticky);
  }
  if (st.st_uid != user && !capabilities.Has(CAP_CHOWN)) {
    not_kept.push_back(Owner(st.st_uid));
  }
  const gid_t new_group = (dir.st_mode & S_ISGID) != 0 ? dir.st_gid : ::getegid();
  if (st.st_gid != new_group && !capabilities.Has(CAP_CHOWN) && !InGroup(st.st_gid)) {
    not_kept.push_back(Group(st.st_gid));
  } else if ((st.st_mode & S_ISGID) != 0 && !capabilities.Has(CAP_FSETID) && !in_group) {
    not_kept.push_back({IdentityPart::kSetGroupId, {}});
  }
  for (const std::string& attribute : attributes) {
    if (!MaySet(attribute, capabilities)) not_kept.push_back({IdentityPart::kAttribute, attribute});
  }
  if (CarriedFlags(flags) != 0 && !owner) not_kept.push_back({IdentityPart::kFlags, {}});
  struct statx mount {};
  if (::statx(folder, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &mount) == 0 &&
      (mount.stx_attributes_mask & mount.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0) {
    cannot.push_back(CopyObstacle::kMountPoint);
  }

  // A write in place: by a process without CAP_FSETID, the kernel clears the set-user-ID bit,
  // and the set-group-ID bit where the group may execute the file or (since Linux 6.2) the
  // writer is not in its group; any write removes file capabilities. What is cleared is given
  // back where this user may.
  std::vector<IdentityLoss>& cleared = access.in_place_would_clear;
  if ((st.st_mode & S_ISUID) != 0 && !capabilities.Has(CAP_FSETID) && !owner) {
    cleared.push_back({IdentityPart::kSetUserId, {}});
  }
  if ((st.st_mode & S_ISGID) != 0 && ((st.st_mode & S_IXGRP) != 0 || !in_group) &&
      !capabilities.Has(CAP_FSETID) && !(owner && in_group)) {
    cleared.push_back({IdentityPart::kSetGroupId, {}});
  }
  if (std::count(attributes.begin(), attributes.end(), kCapabilityAttribute) > 0 &&
      !capabilities.Has(CAP_SETFCAP)) {
    cleared.push_back({IdentityPart::kCapabilities, {}});
  }
  if (cleared.empty() && !access.copy_keeps()) {
    // The write in place it is: the file must open for writing, and a running program's does
    // not (ETXTBSY). Where /proc cannot tell, an open tells, which elsewhere changes nothing; on
    // overlayfs it would copy a file that lies in a lower layer up into the upper one, so there
    // the run's own open is the first.
    switch (RunningFrom(st, capabilities)) {
      case Running::kYes:
        access.refused = {ETXTBSY, std::system_category()};
        break;
      case Running::kNo:
        break;
      case Running::kUnknown: {
        if (OnOverlay(file)) break;
        const int writer =
            ::openat(folder, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (writer < 0) {
          access.refused = {errno, std::system_category()};
        } else {
          ::close(writer);
        }
        break;
      }
    }
  }
  return {};
}

}  // namespace ombrix
