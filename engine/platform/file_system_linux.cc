// The file system on Linux: descriptors and *at calls relative to the target's folder, the
// kernel's clone and in-kernel copy, extended attributes, chattr flags, inotify.
#include "engine/platform/file_system_linux.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "engine/platform/copy_name.h"
#include "engine/platform/file_attributes_linux.h"
#include "engine/platform/file_errors.h"
#include "engine/platform/file_transfer.h"
#include "engine/platform/interrupt_cleanup_linux.h"
#include "engine/platform/write_access_linux.h"

namespace ombrix {
namespace {

std::error_code LastError() { return {errno, std::system_category()}; }
std::error_code Error(int code) { return {code, std::system_category()}; }
std::error_code Result(int result) { return result == 0 ? std::error_code() : LastError(); }

int Fd(const File& file) { return static_cast<int>(file.native()); }

// Runs a call until it is not interrupted by a signal.
template <typename Call>
auto Retrying(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

std::error_code Adopt(int fd, File& file) {
  if (fd == -1) return LastError();
  file.reset(fd);
  return {};
}

std::uint64_t Nanoseconds(const struct timespec& time) {
  return static_cast<std::uint64_t>(time.tv_sec) * 1'000'000'000U +
         static_cast<std::uint64_t>(time.tv_nsec);
}

void Describe(const struct stat& st, FileInfo& info) {
  info.is_regular = S_ISREG(st.st_mode);
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.modified = Nanoseconds(st.st_mtim);
  info.changed = Nanoseconds(st.st_ctim);
  info.device = st.st_dev;
  info.index = st.st_ino;
  info.permissions = st.st_mode & 07777;
}

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `name` in `folder` is the file open as `fd` (kIt), names nothing, or another file.
enum class Named { kIt, kMissing, kOther };
Named NameOf(int folder, const std::filesystem::path& name, int fd) {
  struct stat there;
  struct stat it;
  if (::fstatat(folder, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) return Named::kMissing;
  if (::fstat(fd, &it) != 0 || !SameInode(there, it)) return Named::kOther;
  return Named::kIt;
}

// The links the folder's look-up follows at the most, as the kernel does (ELOOP).
constexpr int kMaxLinks = 40;

// Reads and writes move at most this much at a time (Linux moves at most 2 GiB - 4 KiB).
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;
// A copy through memory goes a megabyte at a time.
constexpr std::size_t kChunk = std::size_t{1} << 20;

std::error_code Transferred(ssize_t result, std::size_t& count) {
  if (result < 0) return LastError();
  count = static_cast<std::size_t>(result);
  return {};
}

// The identity's own names for what is not an extended attribute.
constexpr std::string_view kOwner = "owner";        // user and group
constexpr std::string_view kFlags = "flags";        // the chattr flags a copy carries over
constexpr std::string_view kProject = "project";    // the project quota's ID (XFS, ext4: chattr -p)
constexpr std::string_view kMode = kModeAttribute;  // permission bits, set-ID, sticky bits
// What ntfs-3g keeps of a Windows file without listing it among its extended attributes.
constexpr std::string_view kNtfsSecurity = "system.ntfs_acl";
constexpr std::string_view kUnlistedAttributes[] = {"system.ntfs_attrib_be",
                                                    "system.ntfs_crtime_be", kNtfsSecurity};
// The security label of a new file is its folder's business, as with any tool that writes a
// file anew and renames it.
constexpr std::string_view kSecurityLabel = "security.selinux";

template <typename T>
std::string Bytes(const T& value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
}
template <typename T>
bool FromBytes(std::string_view bytes, T& value) {
  if (bytes.size() != sizeof(value)) return false;
  std::memcpy(&value, bytes.data(), sizeof(value));
  return true;
}

// Gives the file the carried flags `wanted`, keeping its others.
std::error_code SetCarriedFlags(int fd, std::uint32_t wanted) {
  std::uint32_t flags = 0;
  bool supported = false;
  if (const std::error_code error = GetFlags(fd, flags, supported)) return error;
  if (!supported) return wanted == 0 ? std::error_code() : Error(EOPNOTSUPP);
  const std::uint32_t given = (flags & ~CarriedFlags(~0U)) | CarriedFlags(wanted);
  if (given == flags) return {};
  int value = static_cast<int>(given);
  if (::ioctl(fd, FS_IOC_SETFLAGS, &value) != 0) return LastError();
  // A file system may take the call and keep only the flags it knows.
  if (const std::error_code error = GetFlags(fd, flags, supported)) return error;
  return CarriedFlags(flags) == CarriedFlags(wanted) ? std::error_code() : PatchErrc::kNotKept;
}

// Gives the file the project ID `id` (chattr -p), where it has another.
std::error_code SetProject(int fd, std::uint32_t id) {
  struct fsxattr project {};
  if (::ioctl(fd, FS_IOC_FSGETXATTR, &project) != 0) return LastError();
  if (project.fsx_projid == id) return {};
  project.fsx_projid = id;
  if (::ioctl(fd, FS_IOC_FSSETXATTR, &project) != 0) return LastError();
  if (::ioctl(fd, FS_IOC_FSGETXATTR, &project) != 0) return LastError();
  return project.fsx_projid == id ? std::error_code() : PatchErrc::kNotKept;
}

// Blocks every signal while it lives, so that a new copy exists only once it is registered for
// removal (interrupt_cleanup.h).
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &before_);
  }
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t before_;
};

// Gives the file one part of an identity read by ReadIdentity.
std::error_code SetAttribute(int fd, const FileAttribute& attribute) {
  const std::string_view value = attribute.value;
  if (attribute.name == kOwner) {
    uid_t user = 0;
    gid_t group = 0;
    if (value.size() != sizeof(user) + sizeof(group) ||
        !FromBytes(value.substr(0, sizeof(user)), user) ||
        !FromBytes(value.substr(sizeof(user)), group)) {
      return std::make_error_code(std::errc::invalid_argument);
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) return LastError();
    if (st.st_uid == user && st.st_gid == group) return {};  // an ordinary user may not ask
    return Result(::fchown(fd, st.st_uid == user ? static_cast<uid_t>(-1) : user,
                           st.st_gid == group ? static_cast<gid_t>(-1) : group));
  }
  if (attribute.name == kProject) {
    std::uint32_t id = 0;
    if (!FromBytes(value, id)) return std::make_error_code(std::errc::invalid_argument);
    return SetProject(fd, id);
  }
  if (attribute.name == kFlags) {
    std::uint32_t flags = 0;
    if (!FromBytes(value, flags)) return std::make_error_code(std::errc::invalid_argument);
    return SetCarriedFlags(fd, flags);
  }
  if (attribute.name == kMode) {
    mode_t mode = 0;
    if (!FromBytes(value, mode)) return std::make_error_code(std::errc::invalid_argument);
    if (::fchmod(fd, mode) != 0) return LastError();
    // The kernel quietly drops the set-group-ID bit for a user outside the file's group.
    struct stat st;
    if (::fstat(fd, &st) != 0) return LastError();
    return (st.st_mode & 07777) == mode ? std::error_code() : PatchErrc::kNotKept;
  }
  return Result(::fsetxattr(fd, attribute.name.c_str(), value.data(), value.size(), 0));
}

const FileAttribute* Find(const Identity& identity, const std::string& name) {
  for (const FileAttribute& attribute : identity) {
    if (attribute.name == name) return &attribute;
  }
  return nullptr;
}

class LinuxFiles final : public FileSystem {
 public:
  explicit LinuxFiles(CopyMethods methods) : methods_(methods) {}

  std::error_code Open(const std::filesystem::path& path, Target& target) override {
    if (const std::error_code error =
            Adopt(Retrying([&] {
                    return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
                  }),
                  target.file)) {
      return error;
    }
    struct stat st;
    if (::fstat(Fd(target.file), &st) != 0) return LastError();
    Describe(st, target.info);
    target.written = false;
    // Without a watch (no inotify instance left to this user, say), changes are known by the
    // file's times alone.
    target.watch = File();
    if (!target.info.is_regular || Adopt(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC), target.watch)) {
      return {};
    }
    const std::string self = "/proc/self/fd/" + std::to_string(Fd(target.file));
    if (::inotify_add_watch(Fd(target.watch), self.c_str(), IN_MODIFY) < 0) target.watch = File();
    return {};
  }

  std::error_code OpenFolder(const std::filesystem::path& path, const File& file,
                             Folder& folder) override {
    // A file that lost its last name (deleted, yet open, as /proc/self/fd/N shows it) has no
    // folder to be replaced in.
    struct stat it;
    if (::fstat(Fd(file), &it) != 0) return LastError();
    if (it.st_nlink == 0) return PatchErrc::kDeleted;
    // The links at the end of the path are followed one at a time, each relative to the folder
    // it lies in, so that no longer path is ever made than was given (a deep folder's absolute
    // path may be longer than the system takes).
    folder.path = path.parent_path().empty() ? "." : path.parent_path();
    folder.name = path.filename();
    if (const std::error_code error =
            Adopt(::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC),
                  folder.handle)) {
      return error;
    }
    for (int links = 0;; ++links) {
      struct stat st;
      if (::fstatat(Fd(folder.handle), folder.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? make_error_code(PatchErrc::kFileRemoved) : LastError();
      }
      if (!S_ISLNK(st.st_mode)) break;
      if (links == kMaxLinks) return Error(ELOOP);
      std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
      const ssize_t length =
          ::readlinkat(Fd(folder.handle), folder.name.c_str(), target.data(), target.size());
      if (length < 0) return LastError();
      target.resize(static_cast<std::size_t>(length));
      const std::filesystem::path link(target);
      const std::filesystem::path parent = link.parent_path();
      File next;
      const int at = link.is_absolute() ? AT_FDCWD : Fd(folder.handle);
      if (const std::error_code error =
              Adopt(::openat(at, parent.empty() ? "." : parent.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC),
                    next)) {
        return error == std::errc::no_such_file_or_directory
                   ? make_error_code(PatchErrc::kFileRemoved)
                   : error;
      }
      folder.handle = std::move(next);
      folder.path = link.is_absolute() ? parent : folder.path / parent;
      folder.name = link.filename();
    }
    switch (NameOf(Fd(folder.handle), folder.name, Fd(file))) {
      case Named::kIt:
        return {};
      case Named::kMissing:
        return PatchErrc::kFileRemoved;
      case Named::kOther:
        break;
    }
    return PatchErrc::kFileChanged;
  }

  std::error_code CheckUnchanged(Target& target, const Folder& folder) override {
    if (target.watch.is_open() && !target.written && !target.written_by_run) {
      // A write, or more events than were kept: the same.
      alignas(struct inotify_event) char events[4096];
      for (;;) {
        const ssize_t size =
            Retrying([&] { return ::read(Fd(target.watch), events, sizeof(events)); });
        if (size < 0 && errno != EAGAIN) return LastError();
        if (size <= 0) break;
        target.written = true;
      }
    }
    struct stat st;
    FileInfo now;
    std::error_code looked;
    if (::fstatat(Fd(folder.handle), folder.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      Describe(st, now);
    } else {
      looked = LastError();
    }
    return CompareWithOpened(target, looked, now);
  }

  std::error_code Assess(const File& file, const Folder& folder, WriteAccess& access) override {
    return AssessLinux(Fd(file), Fd(folder.handle), folder.name.native(), access);
  }

  std::error_code ReadAt(const File& file, std::uint64_t offset, std::span<char> bytes,
                         std::size_t& count) override {
    const std::size_t wanted = std::min(bytes.size(), kMaxTransfer);
    return Transferred(Retrying([&] {
                         return ::pread(Fd(file), bytes.data(), wanted, static_cast<off_t>(offset));
                       }),
                       count);
  }

  std::error_code WriteAt(const File& file, std::uint64_t offset, std::span<const char> bytes,
                          std::size_t& count) override {
    const std::size_t wanted = std::min(bytes.size(), kMaxTransfer);
    return Transferred(
        Retrying(
            [&] { return ::pwrite(Fd(file), bytes.data(), wanted, static_cast<off_t>(offset)); }),
        count);
  }

  std::error_code FindData(const File& file, std::uint64_t offset, std::uint64_t size,
                           std::uint64_t& start, std::uint64_t& end) override {
    const off_t data = ::lseek(Fd(file), static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0) {
      if (errno != ENXIO) return LastError();
      start = end = size;  // only a hole follows
      return {};
    }
    const off_t hole = ::lseek(Fd(file), data, SEEK_HOLE);
    if (hole < 0) return LastError();
    start = std::min(static_cast<std::uint64_t>(data), size);
    end = std::min(static_cast<std::uint64_t>(hole), size);
    return {};
  }

  std::error_code Flush(const File& file) override {
    return Result(Retrying([&] { return ::fsync(Fd(file)); }));
  }

  std::error_code Close(File& file) override {
    // POSIX leaves the descriptor's state unspecified after EINTR; on Linux it is closed, so
    // the call is never repeated.
    return Result(::close(static_cast<int>(file.release())));
  }

  std::error_code ReadIdentity(const File& file, Identity& identity) override {
    struct stat st;
    if (::fstat(Fd(file), &st) != 0) return LastError();
    identity.clear();
    identity.push_back({std::string(kOwner), Bytes(st.st_uid) + Bytes(st.st_gid)});
    std::uint32_t flags = 0;
    bool supported = false;
    if (const std::error_code error = GetFlags(Fd(file), flags, supported)) return error;
    if (supported) identity.push_back({std::string(kFlags), Bytes(CarriedFlags(flags))});
    struct fsxattr project {};
    if (::ioctl(Fd(file), FS_IOC_FSGETXATTR, &project) == 0) {
      identity.push_back({std::string(kProject), Bytes(project.fsx_projid)});
    } else if (!CannotHere(errno)) {
      return LastError();
    }
    std::vector<std::string> names;
    if (const std::error_code error = ListAttributes(Fd(file), names)) return error;
    for (const std::string& name : names) {
      if (name == kSecurityLabel) continue;
      std::string value;
      const std::error_code error = GetAttribute(Fd(file), name, value);
      // Listed, but not this user's to read (btrfs lists trusted.* to everyone): a new copy
      // could not carry it (Assess says so), and a write in place keeps it.
      if (error == std::errc::no_message_available) continue;
      if (error) return error;
      identity.push_back({name, std::move(value)});
    }
    // NTFS through ntfs-3g keeps the Windows attributes, creation time and security descriptor
    // under names it never lists: they are asked for by name.
    for (const std::string_view name : kUnlistedAttributes) {
      std::string value;
      if (GetAttribute(Fd(file), std::string(name), value)) continue;
      identity.push_back({std::string(name), std::move(value)});
    }
    identity.push_back({std::string(kMode), Bytes(static_cast<mode_t>(st.st_mode & 07777))});
    return {};
  }

  std::error_code SetIdentity(const File& file, const Identity& identity,
                              std::string& part) override {
    part.clear();
    Identity now;
    if (const std::error_code error = ReadIdentity(file, now)) return error;
    for (const FileAttribute& attribute : now) {
      if (Find(identity, attribute.name) != nullptr) continue;
      part = attribute.name;
      // XFS shows an ACL to root twice, as system.posix_acl_access and as trusted.SGI_ACL_FILE:
      // removing the one removes the other.
      if (::fremovexattr(Fd(file), attribute.name.c_str()) != 0 && errno != ENODATA) {
        return LastError();
      }
    }
    for (const FileAttribute& attribute : identity) {
      const FileAttribute* present = Find(now, attribute.name);
      if (present != nullptr && present->value == attribute.value) continue;
      part = attribute.name;
      if (const std::error_code error = SetAttribute(Fd(file), attribute)) return error;
      // A new owner clears the set-ID bits and the capabilities the file had; a security
      // descriptor on NTFS may give it another mode.
      if (attribute.name == kOwner || attribute.name == kNtfsSecurity) {
        part.clear();
        if (const std::error_code error = ReadIdentity(file, now)) return error;
      }
    }
    part.clear();
    if (const std::error_code error = ReadIdentity(file, now)) return error;
    for (const FileAttribute& attribute : identity) {
      if (std::find(now.begin(), now.end(), attribute) != now.end()) continue;
      part = attribute.name;
      return PatchErrc::kNotKept;
    }
    return {};
  }

  std::error_code MakeCopy(const Folder& folder, const File& from, std::uint64_t size,
                           NewCopy& copy) override {
    copy = NewCopy();
    if (const std::error_code error = CreateUnderNewName(
            folder.name,
            [&](const std::filesystem::path& name) { return Create(folder, name, copy); },
            copy.name)) {
      return error;
    }
    // A file must be without copy-on-write (btrfs +C) from its start, or it never is.
    std::uint32_t flags = 0;
    bool supported = false;
    std::error_code error = GetFlags(Fd(from), flags, supported);
    if (!error && (flags & FS_NOCOW_FL) != 0) error = SetCarriedFlags(Fd(copy.file), FS_NOCOW_FL);
    if (!error) {
      copy.created = true;
      error = Fill(from, copy, size);
    }
    if (error) {
      const std::error_code left = Remove(folder, copy);
      if (left != std::errc::no_such_file_or_directory && left != PatchErrc::kCopyReplaced) {
        copy.left = left;
      }
      copy.file = File();
    }
    return error;
  }

  std::error_code OpenForVerifying(const NewCopy& copy, File& reader) override {
    // The copy itself, never its name. It was flushed, so its cached pages are clean and may be
    // dropped: what is read next comes from the device, with the kernel's read-ahead (reads
    // that bypass the cache, O_DIRECT, go without it and took a quarter longer here).
    if (const std::error_code error = Adopt(::fcntl(Fd(copy.file), F_DUPFD_CLOEXEC, 0), reader)) {
      return error;
    }
    if (const int error = ::posix_fadvise(Fd(reader), 0, 0, POSIX_FADV_DONTNEED)) {
      return Error(error);
    }
    return {};
  }

  std::error_code Replace(const Folder& folder, const NewCopy& copy) override {
    // Another user who may write to the folder could still swap names between this look and
    // the rename; what the rename would then move is a file of theirs, which they could have
    // moved there themselves.
    if (NameOf(Fd(folder.handle), copy.name, Fd(copy.file)) != Named::kIt) {
      return PatchErrc::kCopyReplaced;
    }
    if (::renameat(Fd(folder.handle), copy.name.c_str(), Fd(folder.handle), folder.name.c_str()) ==
        0) {
      ForgetCopy();
      // The rename is complete by itself; flushing the folder makes it durable sooner. A
      // failure there cannot be undone and leaves the new content in place, so it is no
      // failure of the replacement.
      (void)Flush(folder.handle);
      return {};
    }
    const int error = errno;
    // A file bind-mounted over the name is the root of a mount: no rename replaces it.
    struct statx st;
    if (error == EBUSY &&
        ::statx(Fd(folder.handle), folder.name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS,
                &st) == 0 &&
        (st.stx_attributes_mask & st.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0) {
      return PatchErrc::kMountPoint;
    }
    return Error(error);
  }

  std::error_code Remove(const Folder& folder, const NewCopy& copy) override {
    std::error_code error = PatchErrc::kCopyReplaced;
    switch (NameOf(Fd(folder.handle), copy.name, Fd(copy.file))) {
      case Named::kIt:
        error = Result(::unlinkat(Fd(folder.handle), copy.name.c_str(), 0));
        break;
      case Named::kMissing:
        error = Error(ENOENT);
        break;
      case Named::kOther:
        break;
    }
    ForgetCopy();  // once it is gone: a signal before would still remove it
    return error;
  }

  std::error_code OpenForWriting(Target& target, const Folder& folder, File& writer) override {
    struct stat before;
    if (::fstat(Fd(target.file), &before) != 0) return LastError();
    if (const std::error_code error =
            Adopt(Retrying([&] {
                    return ::openat(Fd(folder.handle), folder.name.c_str(),
                                    O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
                  }),
                  writer)) {
      // A FIFO, a link or nothing where the file was: another program replaced it.
      if (error == std::errc::no_such_file_or_directory) return PatchErrc::kFileRemoved;
      if (error == std::errc::too_many_symbolic_link_levels) return PatchErrc::kFileChanged;
      return error;
    }
    struct stat opened;
    struct stat it;
    if (::fstat(Fd(writer), &opened) != 0 || ::fstat(Fd(target.file), &it) != 0) {
      return LastError();
    }
    if (!SameInode(opened, it)) {
      writer = File();
      return PatchErrc::kFileChanged;
    }
    // The first open for writing of a file that lies in an overlay's lower layer copies it up:
    // a new change time, and perhaps another inode number, of the run's own making. Where the
    // file was as opened just before and kept its length, its time of writing and its mode, it
    // is taken as it is now; a write by another program still shows in those, and in the watch.
    FileInfo was;
    FileInfo now;
    Describe(before, was);
    Describe(opened, now);
    if (was == target.info && now.is_regular && now.size == was.size &&
        now.modified == was.modified && now.permissions == was.permissions &&
        OnOverlay(Fd(writer))) {
      target.info = now;
    }
    // Two runs writing one file in place, a patch and a restore say, would each leave the
    // other's work half done: one at a time.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(Fd(writer), F_OFD_SETLK, &lock) != 0) {
      const int error = errno;
      writer = File();
      return error == EAGAIN || error == EACCES ? make_error_code(PatchErrc::kLocked)
                                                : Error(error);
    }
    return {};
  }

 private:
  // Creates the copy `name` in the folder, exclusively, for the owner alone, and registers it
  // for removal on a signal with every signal held meanwhile.
  static std::error_code Create(const Folder& folder, const std::filesystem::path& name,
                                NewCopy& copy) {
    const SignalsHeld held;
    if (const std::error_code error =
            Adopt(::openat(Fd(folder.handle), name.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600),
                  copy.file)) {
      return error;
    }
    RegisterCopy(folder.handle, name, copy.file);
    return {};
  }

  // Gives the new copy the bytes of `from`, `size` of them, the best way `methods_` allows.
  std::error_code Fill(const File& from, NewCopy& copy, std::uint64_t size) {
    copy.kind = CopyKind::kCopied;
    if (methods_ == CopyMethods::kBest) {
      if (::ioctl(Fd(copy.file), FICLONE, Fd(from)) == 0) {
        copy.kind = CopyKind::kCloned;
        return {};
      }
      if (!CannotHere(errno)) return LastError();
    }
    bool in_kernel = methods_ != CopyMethods::kPlainOnly;
    std::unique_ptr<char[]> chunk;
    const std::error_code error = ForEachDataStretch(
        *this, from, size, [&](std::uint64_t start, std::uint64_t end) -> std::error_code {
          for (std::uint64_t at = start; at < end;) {
            if (in_kernel) {
              auto in = static_cast<off_t>(at);
              auto out = static_cast<off_t>(at);
              const auto wanted =
                  static_cast<std::size_t>(std::min<std::uint64_t>(end - at, kMaxTransfer));
              const ssize_t copied = Retrying(
                  [&] { return ::copy_file_range(Fd(from), &in, Fd(copy.file), &out, wanted, 0); });
              if (copied >= 0) {
                if (copied == 0) return PatchErrc::kFileChanged;  // it became shorter
                at += static_cast<std::uint64_t>(copied);
                continue;
              }
              if (!CannotHere(errno)) return LastError();
              in_kernel = false;
            }
            if (!chunk) chunk.reset(new (std::nothrow) char[kChunk]);
            if (!chunk) return std::make_error_code(std::errc::not_enough_memory);
            const std::span<char> part(
                chunk.get(), static_cast<std::size_t>(std::min<std::uint64_t>(end - at, kChunk)));
            if (const std::error_code read = ReadAllAt(*this, from, at, part)) return read;
            if (const std::error_code write = WriteAllAt(*this, copy.file, at, part)) return write;
            at += part.size();
          }
          return {};
        });
    if (error) return error;
    // The length, with any hole at the end.
    return Result(Retrying([&] { return ::ftruncate(Fd(copy.file), static_cast<off_t>(size)); }));
  }

  CopyMethods methods_;
};

}  // namespace

void File::CloseIgnoringErrors(std::intptr_t handle) { ::close(static_cast<int>(handle)); }

FileSystem& LinuxFileSystem(CopyMethods methods) {
  static LinuxFiles best(CopyMethods::kBest);
  static LinuxFiles no_clone(CopyMethods::kNoClone);
  static LinuxFiles plain(CopyMethods::kPlainOnly);
  switch (methods) {
    case CopyMethods::kNoClone:
      return no_clone;
    case CopyMethods::kPlainOnly:
      return plain;
    case CopyMethods::kBest:
      break;
  }
  return best;
}

FileSystem& RealFileSystem() { return LinuxFileSystem(CopyMethods::kBest); }

bool InUse(std::error_code error) { return error == std::errc::text_file_busy; }

bool NotPermitted(std::error_code error) {
  return error == std::errc::permission_denied || error == std::errc::operation_not_permitted ||
         error == std::errc::read_only_file_system;
}

}  // namespace ombrix
