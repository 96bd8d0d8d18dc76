// The file system as a run sees it: one small interface with a real implementation per platform
// (file_system_posix.cc, file_system_win32.cc), through which a run makes every call. Tests wrap
// the real one to make chosen calls fail (engine/testing/faulty_file_system.h). The calls report
// failure as an error code and never throw; which calls a run makes, in what order, and what a
// failure means live in target_file.cc.
#ifndef OMBRIX_ENGINE_FILE_SYSTEM_H_
#define OMBRIX_ENGINE_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace ombrix {

// What a run needs to know of a file.
struct FileInfo {
  bool is_regular = false;        // a plain file (not a folder, device, FIFO or socket)
  std::uint64_t size = 0;         // length in bytes
  std::uint64_t modified = 0;     // last change of the content, in the platform's own ticks
  std::uint64_t changed = 0;      // last change of the content or the metadata (ctime)
  std::uint64_t device = 0;       // the volume, and the file on it: together they name
  std::uint64_t index = 0;        // one file however its names change (inode number)
  std::uint32_t permissions = 0;  // POSIX mode bits; Windows file attributes
};

// Whether `now` still describes the very file `before` described, unchanged: the same file on
// the same volume, with the same length and the same times of change.
bool SameFileUnchanged(const FileInfo& before, const FileInfo& now);

// An open file: a descriptor or a Windows handle. Closed when destroyed (errors ignored) unless
// FileSystem::Close was called first; use that where its result matters.
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

// One part of a file's identity beyond its bytes, as the platform names it: on Linux its owner,
// its mode and each extended attribute (ACLs and capabilities among them); on Windows its
// creation time and its security descriptor. The value is opaque to everyone but the platform.
struct FileAttribute {
  std::string name;  // "owner", "mode", "user.origin", "security descriptor", ...
  std::string value;
  bool required = true;  // false: kept where the process may, silently given up elsewhere
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing file for reading. Never blocks (a FIFO without writer opens at once) and
  // never creates anything.
  virtual std::error_code OpenForReading(const std::filesystem::path& path, File& file) = 0;
  // Opens an existing file for reading and writing in place, without truncating it.
  virtual std::error_code OpenForWriting(const std::filesystem::path& path, File& file) = 0;
  virtual std::error_code Query(const File& file, FileInfo& info) = 0;
  virtual std::error_code QueryPath(const std::filesystem::path& path, FileInfo& info) = 0;
  // The path of the file that `path` names, following symbolic links; `path` itself when it is
  // not a link.
  virtual std::error_code ResolveLinks(const std::filesystem::path& path,
                                       std::filesystem::path& resolved) = 0;
  // Whether files in `folder` may be renamed and removed: operation_not_permitted where the
  // folder is append-only or immutable.
  virtual std::error_code CheckFolder(const std::filesystem::path& folder) = 0;
  // Whether this process may change the file at `path` (permission_denied where it may not).
  virtual std::error_code CheckWritable(const std::filesystem::path& path) = 0;

  // One read or write of at most `bytes.size()` bytes at `offset`; `count` says how many were
  // moved (0 for a read at the end of the file). Interrupted calls are retried.
  virtual std::error_code ReadAt(const File& file, std::uint64_t offset, std::span<char> bytes,
                                 std::size_t& count) = 0;
  virtual std::error_code WriteAt(const File& file, std::uint64_t offset,
                                  std::span<const char> bytes, std::size_t& count) = 0;
  // Makes the file's data and size durable on the disk.
  virtual std::error_code Flush(const File& file) = 0;
  virtual std::error_code Close(File& file) = 0;

  // Creates `copy` exclusively (failing when anything exists there), open for reading and
  // writing. Where the platform copies a file whole in one call (Windows: CopyFileExW, which
  // keeps its streams and attributes and clones where the volume can), `copy` gets the bytes of
  // `from` and `filled` is set; elsewhere it is created empty, for the owner alone.
  virtual std::error_code CreateCopy(const std::filesystem::path& from,
                                     const std::filesystem::path& copy, File& file,
                                     bool& filled) = 0;
  // Makes the empty file `to` share the blocks of `from` (a clone). not_supported where the file
  // system cannot.
  virtual std::error_code Clone(const File& from, const File& to) = 0;
  // The first stretch of data at or after `offset` of a file `size` bytes long: [start, end).
  // A file system that does not tell holes from data answers [offset, size); start == size when
  // only a hole follows.
  virtual std::error_code FindData(const File& file, std::uint64_t offset, std::uint64_t size,
                                   std::uint64_t& start, std::uint64_t& end) = 0;
  // Copies up to `length` bytes at `offset` of `from` to the same offset of `to` inside the
  // kernel; `copied` says how many (0 at the end of `from`). not_supported where it cannot.
  virtual std::error_code CopyRange(const File& from, const File& to, std::uint64_t offset,
                                    std::uint64_t length, std::uint64_t& copied) = 0;
  virtual std::error_code SetSize(const File& file, std::uint64_t size) = 0;

  // The file's identity beyond its bytes, in the order in which it is to be given to another
  // file (on Linux the owner first, since changing it clears the set-ID bits and capabilities,
  // and the mode last).
  virtual std::error_code ReadIdentity(const File& file, std::vector<FileAttribute>& identity) = 0;
  virtual std::error_code SetAttribute(const File& file, const FileAttribute& attribute) = 0;
  // Removes an attribute that ReadIdentity named on this file.
  virtual std::error_code RemoveAttribute(const File& file, const std::string& name) = 0;

  // Opens the file, which was flushed, to read what the disk holds rather than what the
  // system's cache remembers of it. Reads through it must start at, and cover, multiples of
  // kVerifyAlignment bytes, into memory aligned as much.
  virtual std::error_code OpenForVerifying(const std::filesystem::path& path, File& file) = 0;

  // Replaces `to` with `from` in one atomic step; `from` no longer exists afterwards.
  virtual std::error_code Replace(const std::filesystem::path& from,
                                  const std::filesystem::path& to) = 0;
  virtual std::error_code Remove(const std::filesystem::path& path) = 0;
  // Makes the folder's entries durable (a no-op where the platform does it by itself).
  virtual std::error_code FlushFolder(const std::filesystem::path& folder) = 0;
};

// Reads through OpenForVerifying are aligned to this (the largest sector size in use).
inline constexpr std::size_t kVerifyAlignment = 4096;

// The platform's file system.
FileSystem& RealFileSystem();

// Classifies errors of the calls above.
bool AlreadyExists(std::error_code error);
bool InUse(std::error_code error);
bool NotSupported(std::error_code error);

// Makes a file-size limit reached while writing an ordinary write error instead of a signal
// that kills the process (SIGXFSZ). A no-op on Windows.
void IgnoreFileSizeLimitSignal();

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_FILE_SYSTEM_H_
