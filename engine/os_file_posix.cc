// The file-system primitives on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <memory>

#include "engine/os_file.h"

namespace ombrix::os {
namespace {

std::error_code LastError() { return {errno, std::system_category()}; }

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

void Describe(const struct stat& st, FileInfo& info) {
  info.is_regular = S_ISREG(st.st_mode);
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.modified = static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1'000'000'000U +
                  static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
  info.permissions = st.st_mode & 07777;
  info.owner = st.st_uid;
  info.group = st.st_gid;
}

// Reads and writes move at most this much at a time (Linux moves at most 2 GiB - 4 KiB).
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

std::error_code Transferred(ssize_t result, std::size_t& count) {
  if (result < 0) return LastError();
  count = static_cast<std::size_t>(result);
  return {};
}

}  // namespace

void File::CloseIgnoringErrors(std::intptr_t handle) { ::close(static_cast<int>(handle)); }

std::error_code OpenForReading(const std::filesystem::path& path, File& file) {
  return Open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0, file);
}

std::error_code OpenForWriting(const std::filesystem::path& path, File& file) {
  return Open(path, O_RDWR | O_NONBLOCK | O_NOCTTY, 0, file);
}

std::error_code CreateNew(const std::filesystem::path& path, const FileInfo& /*like*/, File& file) {
  // Only the owner may touch the new file until CopyPermissions gives it the target's bits.
  return Open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, S_IRUSR | S_IWUSR, file);
}

std::error_code Query(const File& file, FileInfo& info) {
  struct stat st;
  if (::fstat(Fd(file), &st) != 0) return LastError();
  Describe(st, info);
  return {};
}

std::error_code QueryPath(const std::filesystem::path& path, FileInfo& info) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return LastError();
  Describe(st, info);
  return {};
}

std::error_code ReadSome(const File& file, std::span<char> bytes, std::size_t& count) {
  const std::size_t wanted = std::min(bytes.size(), kMaxTransfer);
  return Transferred(Retrying([&] { return ::read(Fd(file), bytes.data(), wanted); }), count);
}

std::error_code ReadAt(const File& file, std::uint64_t offset, std::span<char> bytes,
                       std::size_t& count) {
  const std::size_t wanted = std::min(bytes.size(), kMaxTransfer);
  return Transferred(
      Retrying([&] { return ::pread(Fd(file), bytes.data(), wanted, static_cast<off_t>(offset)); }),
      count);
}

std::error_code WriteSome(const File& file, std::span<const char> bytes, std::size_t& count) {
  const std::size_t wanted = std::min(bytes.size(), kMaxTransfer);
  return Transferred(Retrying([&] { return ::write(Fd(file), bytes.data(), wanted); }), count);
}

std::error_code WriteAt(const File& file, std::uint64_t offset, std::span<const char> bytes,
                        std::size_t& count) {
  const std::size_t wanted = std::min(bytes.size(), kMaxTransfer);
  return Transferred(Retrying([&] {
                       return ::pwrite(Fd(file), bytes.data(), wanted, static_cast<off_t>(offset));
                     }),
                     count);
}

std::error_code CopyPermissions(const File& file, const FileInfo& like) {
  // The owner first: changing it clears the set-user-ID and set-group-ID bits.
  if (::geteuid() == 0 && ::fchown(Fd(file), like.owner, like.group) != 0) return LastError();
  if (::fchmod(Fd(file), static_cast<mode_t>(like.permissions)) != 0) return LastError();
  return {};
}

std::error_code Flush(const File& file) {
  if (Retrying([&] { return ::fsync(Fd(file)); }) != 0) return LastError();
  return {};
}

std::error_code Close(File& file) {
  // POSIX leaves the descriptor's state unspecified after EINTR; on Linux it is closed, so the
  // call is never repeated.
  if (::close(static_cast<int>(file.release())) != 0) return LastError();
  return {};
}

std::error_code ResolveLinks(const std::filesystem::path& path, std::filesystem::path& resolved) {
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

std::error_code Replace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return LastError();
  return {};
}

std::error_code Remove(const std::filesystem::path& path) {
  if (::unlink(path.c_str()) != 0) return LastError();
  return {};
}

std::error_code FlushFolder(const std::filesystem::path& folder) {
  File dir;
  if (const std::error_code error =
          Open(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY, 0, dir)) {
    return error;
  }
  if (const std::error_code error = Flush(dir)) return error;
  return Close(dir);
}

bool AlreadyExists(std::error_code error) { return error == std::errc::file_exists; }

bool InUse(std::error_code error) {
  return error == std::errc::text_file_busy || error == std::errc::device_or_resource_busy;
}

void IgnoreFileSizeLimitSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace ombrix::os
