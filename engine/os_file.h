// The few file-system primitives a patch run is made of, one implementation per platform
// (os_file_posix.cc, os_file_win32.cc). They report failure as an error code and never throw;
// which steps are taken, in what order, and what a failure means live in target_file.cc.
#ifndef OMBRIX_ENGINE_OS_FILE_H_
#define OMBRIX_ENGINE_OS_FILE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <system_error>

namespace ombrix::os {

// What a run needs to know of a file.
struct FileInfo {
  bool is_regular = false;        // a plain file (not a folder, device, FIFO or socket)
  std::uint64_t size = 0;         // length in bytes
  std::uint64_t modified = 0;     // last change of the content, in the platform's own ticks
  std::uint32_t permissions = 0;  // POSIX mode bits; Windows file attributes
  std::uint32_t owner = 0;        // POSIX user and group ids; unused on Windows
  std::uint32_t group = 0;
};

// An open file: a descriptor or a Windows handle. Closed when destroyed (errors ignored) unless
// Close was called first; use Close where its result matters.
class File {
 public:
  File() = default;
  ~File() { reset(kInvalid); }
  File(File&& other) noexcept : handle_(other.release()) {}
  File& operator=(File&& other) noexcept {
    reset(other.release());
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool is_open() const { return handle_ != kInvalid; }
  std::intptr_t native() const { return handle_; }
  // Closes the file held (errors ignored) and takes `handle` instead.
  void reset(std::intptr_t handle) {
    if (is_open()) CloseIgnoringErrors(handle_);
    handle_ = handle;
  }
  std::intptr_t release() {
    const std::intptr_t handle = handle_;
    handle_ = kInvalid;
    return handle;
  }

 private:
  static constexpr std::intptr_t kInvalid = -1;  // also INVALID_HANDLE_VALUE
  static void CloseIgnoringErrors(std::intptr_t handle);
  std::intptr_t handle_ = kInvalid;
};

// Opens an existing file for reading. Never blocks (a FIFO without writer opens at once) and
// never creates anything.
std::error_code OpenForReading(const std::filesystem::path& path, File& file);
// Opens an existing file for writing in place, without truncating it.
std::error_code OpenForWriting(const std::filesystem::path& path, File& file);
// Creates `path` exclusively (failing when anything exists there), open for reading and
// writing, with attributes like `like` where the platform sets them at creation.
std::error_code CreateNew(const std::filesystem::path& path, const FileInfo& like, File& file);

std::error_code Query(const File& file, FileInfo& info);
std::error_code QueryPath(const std::filesystem::path& path, FileInfo& info);

// One read or write of at most `bytes.size()` bytes; `count` says how many were moved (0 for a
// read at the end of the file). Interrupted calls are retried.
std::error_code ReadSome(const File& file, std::span<char> bytes, std::size_t& count);
std::error_code ReadAt(const File& file, std::uint64_t offset, std::span<char> bytes,
                       std::size_t& count);
std::error_code WriteSome(const File& file, std::span<const char> bytes, std::size_t& count);
std::error_code WriteAt(const File& file, std::uint64_t offset, std::span<const char> bytes,
                        std::size_t& count);

// Gives `file` the owner (when the process may) and the permission bits of `like`.
std::error_code CopyPermissions(const File& file, const FileInfo& like);
// Makes the file's data and size durable on the disk.
std::error_code Flush(const File& file);
std::error_code Close(File& file);

// The path of the file that `path` names, following symbolic links; `path` itself when it is
// not a link.
std::error_code ResolveLinks(const std::filesystem::path& path, std::filesystem::path& resolved);
// Replaces `to` with `from` in one atomic step; `from` no longer exists afterwards.
std::error_code Replace(const std::filesystem::path& from, const std::filesystem::path& to);
std::error_code Remove(const std::filesystem::path& path);
// Makes the folder's entries durable (a no-op where the platform does it by itself).
std::error_code FlushFolder(const std::filesystem::path& folder);

// Classifies errors of the calls above.
bool AlreadyExists(std::error_code error);
bool InUse(std::error_code error);

// Makes a file-size limit reached while writing an ordinary write error instead of a signal
// that kills the process (SIGXFSZ). A no-op on Windows.
void IgnoreFileSizeLimitSignal();

}  // namespace ombrix::os

#endif  // OMBRIX_ENGINE_OS_FILE_H_
