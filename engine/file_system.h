// The file system as a run sees it: one small interface with a real implementation per platform
// (file_system_linux.cc, file_system_win32.cc), through which a run makes every call. Tests wrap
// the real one to make chosen calls fail (engine/testing/file_system_wrapper.h). The calls
// report failure as an error code and never throw; which calls a run makes, in what order, and
// what a failure means live in target_file.cc and the files it uses.
//
// Every step after the target is opened works on what is already open: on Linux the target's
// folder, opened once, with every name looked up relative to it, and the new copy, known by its
// descriptor; on Windows, whose calls take whole paths, the folder is held open so that it
// cannot be renamed meanwhile (Wine lets it be), every name opened in it is checked to be the
// file expected, and the copy is read back, renamed and removed through its handle. Another user
// who renames the folder or puts something else under the copy's name can make a run fail, but
// never make it write, follow, rename or remove anything but its own.
#ifndef OMBRIX_ENGINE_FILE_SYSTEM_H_
#define OMBRIX_ENGINE_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
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

// Whether `a` and `b` describe the same file (whatever its length or times).
bool SameFile(const FileInfo& a, const FileInfo& b);
// Whether `now` still describes the very file `before` described, unchanged: the same file on
// the same volume, with the same length and the same times of change.
bool SameFileUnchanged(const FileInfo& before, const FileInfo& now);

// An open file or folder: a descriptor or a Windows handle. Closed when destroyed (errors
// ignored) unless FileSystem::Close was called first; use that where its result matters.
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

// The folder that holds a target's own name (symbolic links followed), open for the whole run,
// and that name in it. Renaming the folder or a link on the way to it changes nothing for the
// run; on Windows, where a name must be given in full, the folder cannot be renamed while open.
struct Folder {
  File handle;
  std::filesystem::path name;  // the target's name in the folder
  std::filesystem::path path;  // the folder's path when it was opened, for the platform's use
};

// One part of a file's identity beyond its bytes, as the platform names it: on Linux its owner,
// its flags (chattr), its mode and each extended attribute (ACLs and capabilities among them);
// on Windows its creation time and its security descriptor. The value is opaque to everyone but
// the platform.
struct FileAttribute {
  std::string name;  // "owner", "mode", "user.origin", "security descriptor", ...
  std::string value;
};

// What a run may do with a target here, and whether each way of writing it keeps the whole
// file: its owner, group, permissions, attributes and flags.
struct WriteAccess {
  // Why the file may not be changed at all (no permission, an immutable or append-only file, a
  // read-only file system, a file in use); none where it may.
  std::error_code refused;
  // Why a new copy renamed over the file cannot be made or would not keep the whole file, as a
  // clause: "a new copy would not keep its owner (root)"; empty where it would.
  std::string copy_falls_short;
  // Why a write in place would not keep the whole file, as a clause: "a write in place would
  // clear its set-user-ID bit, which this user may not set again"; empty where it would.
  std::string in_place_falls_short;
};

// How a new copy came by its bytes.
enum class CopyKind {
  kCloned,  // it shares the file's blocks (XFS, btrfs): only what is written to it is its own
  kCopied,  // its data was copied (holes stay holes)
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing file for reading. Never blocks (a FIFO without writer opens at once) and
  // never creates anything.
  virtual std::error_code OpenForReading(const std::filesystem::path& path, File& file) = 0;
  virtual std::error_code Query(const File& file, FileInfo& info) = 0;

  // Opens the folder of the file `file`, which was opened at `path`: the folder its own name is
  // in, symbolic links followed. PatchErrc::kFileRemoved or kFileChanged where that name no
  // longer names `file`.
  virtual std::error_code OpenFolder(const std::filesystem::path& path, const File& file,
                                     Folder& folder) = 0;
  // Looks at `name` in the folder without following a link.
  virtual std::error_code QueryIn(const Folder& folder, const std::filesystem::path& name,
                                  FileInfo& info) = 0;
  // What this process may do with `file`, whose name `folder` holds. Writes nothing.
  virtual std::error_code Assess(const File& file, const Folder& folder, WriteAccess& access) = 0;
  // Opens `file`, whose name `folder` holds, again for reading and writing in place, without
  // truncating it; never another file (PatchErrc::kFileChanged where the name now names one).
  virtual std::error_code OpenForWriting(const File& file, const Folder& folder, File& writer) = 0;

  // One read or write of at most `bytes.size()` bytes at `offset`; `count` says how many were
  // moved (0 for a read at the end of the file). Interrupted calls are retried.
  virtual std::error_code ReadAt(const File& file, std::uint64_t offset, std::span<char> bytes,
                                 std::size_t& count) = 0;
  virtual std::error_code WriteAt(const File& file, std::uint64_t offset,
                                  std::span<const char> bytes, std::size_t& count) = 0;
  // Makes the file's data and size durable on the disk.
  virtual std::error_code Flush(const File& file) = 0;
  virtual std::error_code Close(File& file) = 0;

  // Creates the new copy `name` of `from` in `folder`, exclusively (failing when anything exists
  // there), open for reading, writing, and renaming or removing by Replace and Remove. From the
  // moment it exists until Replace or Remove is called on it, a signal that ends the program
  // removes it (interrupt_cleanup.h). On Linux it is created empty, for the owner alone, with
  // the flags (chattr) of `from` that belong to a file from its start; on Windows CopyFileExW
  // fills it, keeping streams and attributes (cloning where the volume can).
  virtual std::error_code CreateCopy(const Folder& folder, const File& from,
                                     const std::filesystem::path& name, File& copy) = 0;
  // Gives the new copy the bytes of `from`, `size` of them, as the platform does best: a clone
  // where the file system shares blocks, else an in-kernel copy, else a copy through memory;
  // holes stay holes. On Windows the copy already has them. PatchErrc::kFileChanged where
  // `from` turns out shorter.
  virtual std::error_code FillCopy(const File& from, const File& copy, std::uint64_t size,
                                   CopyKind& kind) = 0;
  // The first stretch of data at or after `offset` of a file `size` bytes long: [start, end).
  // A file system that does not tell holes from data answers [offset, size); start == size when
  // only a hole follows.
  virtual std::error_code FindData(const File& file, std::uint64_t offset, std::uint64_t size,
                                   std::uint64_t& start, std::uint64_t& end) = 0;

  // The file's identity beyond its bytes, in the order in which it is to be given to another
  // file (on Linux the owner first, since changing it clears the set-ID bits and capabilities,
  // and the mode last).
  virtual std::error_code ReadIdentity(const File& file, std::vector<FileAttribute>& identity) = 0;
  virtual std::error_code SetAttribute(const File& file, const FileAttribute& attribute) = 0;
  // Removes an attribute that ReadIdentity named on this file; none where it is gone already.
  virtual std::error_code RemoveAttribute(const File& file, const std::string& name) = 0;

  // Opens the new copy `copy` again, after it was flushed, to read what the disk holds rather
  // than what the system's cache remembers of it. Reads through `reader` must start at, and
  // cover, multiples of kVerifyAlignment bytes, into memory aligned as much.
  virtual std::error_code OpenForVerifying(const File& copy, File& reader) = 0;

  // Replaces the target (`folder.name`) with the new copy `copy`, named `name` in the folder,
  // in one atomic step, once the name is seen to be still the copy's
  // (PatchErrc::kCopyReplaced otherwise: nothing is renamed).
  virtual std::error_code Replace(const Folder& folder, const std::filesystem::path& name,
                                  const File& copy) = 0;
  // Removes the new copy `copy`, named `name` in the folder, where the name is still its own.
  virtual std::error_code Remove(const Folder& folder, const std::filesystem::path& name,
                                 const File& copy) = 0;
  // Makes the folder's entries durable (a no-op where the platform does it by itself).
  virtual std::error_code FlushFolder(const Folder& folder) = 0;

  // Starts watching `file` for writes by any program: `watch` tells WrittenSince. not_supported
  // where the platform cannot, and a run then relies on the file's times alone.
  virtual std::error_code Watch(const File& file, File& watch) = 0;
  // Whether the watched file was written to since the watch began (or since this was last
  // asked and said yes: it keeps saying yes).
  virtual std::error_code WrittenSince(const File& watch, bool& written) = 0;
};

// Reads through OpenForVerifying are aligned to this (the largest sector size in use).
inline constexpr std::size_t kVerifyAlignment = 4096;

// The platform's file system.
FileSystem& RealFileSystem();

// Calls `stretch(start, end)` for each stretch of data of `file`, `size` bytes long, in order,
// as FindData tells them; stops at the first error, its own or `stretch`'s.
std::error_code ForEachDataStretch(
    FileSystem& files, const File& file, std::uint64_t size,
    const std::function<std::error_code(std::uint64_t, std::uint64_t)>& stretch);

// Classifies errors of the calls above.
bool AlreadyExists(std::error_code error);
bool InUse(std::error_code error);
bool NotSupported(std::error_code error);
// Whether a failure to create or rename a file in a folder means that this process may not
// (permission, a read-only file system), rather than that something went wrong.
bool NotPermitted(std::error_code error);

// Makes a file-size limit reached while writing an ordinary write error instead of a signal
// that kills the process (SIGXFSZ). A no-op on Windows.
void IgnoreFileSizeLimitSignal();

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_FILE_SYSTEM_H_
