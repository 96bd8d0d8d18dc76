// The file system on Linux: descriptors, the kernel's clone and in-kernel copy, extended
// attributes.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/file_system.h"
#include "engine/patch_error.h"

namespace ombrix {
namespace {

std::error_code LastError() { return {errno, std::system_category()}; }
std::error_code Error(int code) { return {code, std::system_category()}; }

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

std::error_code Open(const std::filesystem::path& path, int flags, mode_t mode, File& file) {
  const int fd = Retrying([&] { return ::open(path.c_str(), flags | O_CLOEXEC, mode); });
  if (fd == -1) return LastError();
  file.reset(fd);
  return {};
}

// The folder a file's name is in; the current folder for a name without one.
std::error_code OpenFolder(const std::filesystem::path& folder, File& dir) {
  return Open(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY, 0, dir);
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

// Reads and writes move at most this much at a time (Linux moves at most 2 GiB - 4 KiB).
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

std::error_code Transferred(ssize_t result, std::size_t& count) {
  if (result < 0) return LastError();
  count = static_cast<std::size_t>(result);
  return {};
}

// Whether a clone or an in-kernel copy failed only because this file system, or this kernel,
// cannot make one.
bool CannotHere(int error) {
  return error == EOPNOTSUPP || error == ENOTTY || error == EXDEV || error == EINVAL ||
         error == ENOSYS;
}

// The identity's own names for what is not an extended attribute.
constexpr std::string_view kOwner = "owner";  // user and group, given only by root
constexpr std::string_view kGroup = "group";  // the group alone, where an ordinary user may
constexpr std::string_view kMode = "mode";    // permission bits, set-ID and sticky bits
// The security label of a new file is its folder's business, as with any tool that writes a
// file anew and renames it.
constexpr std::string_view kSecurityLabel = "security.selinux";

template <typename T>
std::string Bytes(const T& value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
}
template <typename T>
bool FromBytes(const std::string& bytes, T& value) {
  if (bytes.size() != sizeof(value)) return false;
  std::memcpy(&value, bytes.data(), sizeof(value));
  return true;
}

std::error_code ListAttributes(int fd, std::vector<std::string>& names) {
  std::string list;
  for (;;) {
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0) return errno == ENOTSUP ? std::error_code() : LastError();
    list.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::flistxattr(fd, list.data(), list.size());
    if (got >= 0) {
      list.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) return LastError();  // grew meanwhile: ask again
  }
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t end = list.find('\0', at);
    names.push_back(list.substr(at, end - at));
    at = end == std::string::npos ? list.size() : end + 1;
  }
  return {};
}

std::error_code GetAttribute(int fd, const std::string& name, std::string& value) {
  for (;;) {
    const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return LastError();
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return {};
    }
    if (errno != ERANGE) return LastError();
  }
}

class PosixFileSystem final : public FileSystem {
 public:
  std::error_code OpenForReading(const std::filesystem::path& path, File& file) override {
    return Open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0, file);
  }

  std::error_code OpenForWriting(const std::filesystem::path& path, File& file) override {
    return Open(path, O_RDWR | O_NONBLOCK | O_NOCTTY, 0, file);
  }

  std::error_code Query(const File& file, FileInfo& info) override {
    struct stat st;
    if (::fstat(Fd(file), &st) != 0) return LastError();
    Describe(st, info);
    return {};
  }

  std::error_code QueryPath(const std::filesystem::path& path, FileInfo& info) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return LastError();
    Describe(st, info);
    return {};
  }

  std::error_code ResolveLinks(const std::filesystem::path& path,
                               std::filesystem::path& resolved) override {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return LastError();
    if (!S_ISLNK(st.st_mode)) {
      resolved = path;
      return {};
    }
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                           &std::free);
    if (!real) return LastError();
    resolved = real.get();
    return {};
  }

  std::error_code CheckFolder(const std::filesystem::path& folder) override {
    File dir;
    if (const std::error_code error = OpenFolder(folder, dir)) return error;
    int flags = 0;
    if (::ioctl(Fd(dir), FS_IOC_GETFLAGS, &flags) != 0) {
      // A file system without such flags has no append-only folders either.
      return CannotHere(errno) ? std::error_code() : LastError();
    }
    if ((flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0) return Error(EPERM);
    return {};
  }

  std::error_code CheckWritable(const std::filesystem::path& path) override {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return LastError();
    return {};
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

  std::error_code Flush(const File& file) override {
    if (Retrying([&] { return ::fsync(Fd(file)); }) != 0) return LastError();
    return {};
  }

  std::error_code Close(File& file) override {
    // POSIX leaves the descriptor's state unspecified after EINTR; on Linux it is closed, so
    // the call is never repeated.
    if (::close(static_cast<int>(file.release())) != 0) return LastError();
    return {};
  }

  std::error_code CreateCopy(const std::filesystem::path& /*from*/,
                             const std::filesystem::path& copy, File& file, bool& filled) override {
    filled = false;
    // Only the owner may touch the new file until it is given the target's identity.
    return Open(copy, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, S_IRUSR | S_IWUSR, file);
  }

  std::error_code Clone(const File& from, const File& to) override {
    if (::ioctl(Fd(to), FICLONE, Fd(from)) == 0) return {};
    return CannotHere(errno) ? std::make_error_code(std::errc::not_supported) : LastError();
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

  std::error_code CopyRange(const File& from, const File& to, std::uint64_t offset,
                            std::uint64_t length, std::uint64_t& copied) override {
    auto in = static_cast<off_t>(offset);
    auto out = static_cast<off_t>(offset);
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(length, kMaxTransfer));
    const ssize_t result =
        Retrying([&] { return ::copy_file_range(Fd(from), &in, Fd(to), &out, wanted, 0); });
    if (result < 0) {
      return CannotHere(errno) ? std::make_error_code(std::errc::not_supported) : LastError();
    }
    copied = static_cast<std::uint64_t>(result);
    return {};
  }

  std::error_code SetSize(const File& file, std::uint64_t size) override {
    if (Retrying([&] { return ::ftruncate(Fd(file), static_cast<off_t>(size)); }) != 0) {
      return LastError();
    }
    return {};
  }

  std::error_code ReadIdentity(const File& file, std::vector<FileAttribute>& identity) override {
    struct stat st;
    if (::fstat(Fd(file), &st) != 0) return LastError();
    identity.clear();
    if (::geteuid() == 0) {
      identity.push_back({std::string(kOwner), Bytes(st.st_uid) + Bytes(st.st_gid)});
    } else {
      identity.push_back({std::string(kGroup), Bytes(st.st_gid), /*required=*/false});
    }
    std::vector<std::string> names;
    if (const std::error_code error = ListAttributes(Fd(file), names)) return error;
    for (const std::string& name : names) {
      if (name == kSecurityLabel) continue;
      std::string value;
      if (const std::error_code error = GetAttribute(Fd(file), name, value)) return error;
      identity.push_back({name, std::move(value)});
    }
    identity.push_back({std::string(kMode), Bytes(static_cast<mode_t>(st.st_mode & 07777))});
    return {};
  }

  std::error_code SetAttribute(const File& file, const FileAttribute& attribute) override {
    int result = 0;
    if (attribute.name == kOwner || attribute.name == kGroup) {
      uid_t user = static_cast<uid_t>(-1);
      gid_t group = 0;
      const std::string& value = attribute.value;
      const bool read = attribute.name == kOwner
                            ? value.size() == sizeof(user) + sizeof(group) &&
                                  FromBytes(value.substr(0, sizeof(user)), user) &&
                                  FromBytes(value.substr(sizeof(user)), group)
                            : FromBytes(value, group);
      if (!read) return std::make_error_code(std::errc::invalid_argument);
      result = ::fchown(Fd(file), user, group);
    } else if (attribute.name == kMode) {
      mode_t mode = 0;
      if (!FromBytes(attribute.value, mode))
        return std::make_error_code(std::errc::invalid_argument);
      result = ::fchmod(Fd(file), mode);
    } else {
      result = ::fsetxattr(Fd(file), attribute.name.c_str(), attribute.value.data(),
                           attribute.value.size(), 0);
    }
    return result == 0 ? std::error_code() : LastError();
  }

  std::error_code RemoveAttribute(const File& file, const std::string& name) override {
    if (::fremovexattr(Fd(file), name.c_str()) != 0) return LastError();
    return {};
  }

  std::error_code OpenForVerifying(const std::filesystem::path& path, File& file) override {
    // The file was flushed, so its cached pages are clean and may be dropped: what is read
    // next comes from the device, with the kernel's read-ahead (reads that bypass the cache,
    // O_DIRECT, go without it and took a quarter longer here).
    if (const std::error_code error = Open(path, O_RDONLY | O_NOCTTY, 0, file)) return error;
    if (const int error = ::posix_fadvise(Fd(file), 0, 0, POSIX_FADV_DONTNEED)) {
      return Error(error);
    }
    return {};
  }

  std::error_code Replace(const std::filesystem::path& from,
                          const std::filesystem::path& to) override {
    if (::rename(from.c_str(), to.c_str()) == 0) return {};
    const int error = errno;
    // A file bind-mounted over the name is the root of a mount: no rename replaces it.
    struct statx st;
    if (error == EBUSY &&
        ::statx(AT_FDCWD, to.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &st) == 0 &&
        (st.stx_attributes_mask & st.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0) {
      return PatchErrc::kMountPoint;
    }
    return Error(error);
  }

  std::error_code Remove(const std::filesystem::path& path) override {
    if (::unlink(path.c_str()) != 0) return LastError();
    return {};
  }

  std::error_code FlushFolder(const std::filesystem::path& folder) override {
    File dir;
    if (const std::error_code error = OpenFolder(folder, dir)) return error;
    if (const std::error_code error = Flush(dir)) return error;
    return Close(dir);
  }
};

}  // namespace

void File::CloseIgnoringErrors(std::intptr_t handle) { ::close(static_cast<int>(handle)); }

FileSystem& RealFileSystem() {
  static PosixFileSystem files;
  return files;
}

bool AlreadyExists(std::error_code error) { return error == std::errc::file_exists; }

bool InUse(std::error_code error) { return error == std::errc::text_file_busy; }

bool NotSupported(std::error_code error) { return error == std::errc::not_supported; }

void IgnoreFileSizeLimitSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace ombrix
