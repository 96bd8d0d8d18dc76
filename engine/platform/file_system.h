// The file system as a run sees it: one interface shaped around the steps of a run (open the
// target, find it in its folder, make a new copy beside it, give the copy the target's identity,
// read it back, put it in the target's place), with a real implementation per platform
// (file_system_linux.cc, file_system_win32.cc). The mechanics stay below it: which system calls
// make a copy (a clone, an in-kernel copy, CopyFileExW), how a write by another program is seen
// (inotify, or the times alone), how a folder is made durable. Tests wrap it to make any call
// fail (engine/testing/file_system_wrapper.h). Every call reports failure as an error code and
// never throws; what a failure means for the run is decided in engine/run.
//
// Every step after the target is opened works on what is already open: on Linux the target's
// folder, opened once, with every name looked up relative to it, and the new copy, known by its
// descriptor; on Windows, whose calls take whole paths, the folder is held open so that it
// cannot be renamed meanwhile (Wine lets it be), every name opened in it is checked to be the
// file expected, and the copy is read back, renamed and removed through its handle. Another user
// who renames the folder or puts something else under the copy's name can make a run fail, but
// never make it write, follow, rename or remove anything but its own.
#ifndef OMBRIX_ENGINE_PLATFORM_FILE_SYSTEM_H_
#define OMBRIX_ENGINE_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "engine/platform/file_errors.h"

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
  friend bool operator==(const FileInfo&, const FileInfo&) = default;
};

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

// A target open for reading, as it was when it was opened.
struct Target {
  File file;
  FileInfo info;
  File watch;            // tells of writes by any program, where the platform can (inotify)
  bool written = false;  // a write by another program was seen; stays so
  // The run wrote the file in place itself: only whether its name still holds it counts.
  bool written_by_run = false;
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
// its flags (chattr), its project, its mode and each extended attribute (ACLs and capabilities
// among them); on Windows its creation time, owner and access rules. The value is opaque to
// everyone but the platform.
struct FileAttribute {
  std::string name;  // "owner", "mode", "user.origin", "access rules", ...
  std::string value;
  friend bool operator==(const FileAttribute&, const FileAttribute&) = default;
};
// A file's whole identity, in the order in which it is to be given to another file (on Linux
// the owner first, since changing it clears the set-ID bits and capabilities, and the mode last).
using Identity = std::vector<FileAttribute>;

// What would keep a way of writing from keeping the whole file, as values for the front ends to
// put into words.
enum class CopyObstacle {
  kFolderLocked,  // the folder lets no file be renamed or removed (chattr +a or +i)
  kFolderClosed,  // this user may not make files in the folder
  kFolderSticky,  // a sticky folder, and neither it nor the file is this user's
  kMountPoint,    // the file is a mount point, which no rename replaces
};
enum class IdentityPart {
  kOwner,  // `whose`: the owner's name
  kGroup,  // `whose`: the group's name; this user is not in it
  kSetUserId,
  kSetGroupId,
  kAttribute,     // `whose`: the attribute's name
  kFlags,         // chattr flags
  kCapabilities,  // file capabilities
};
struct IdentityLoss {
  IdentityPart part;
  std::string whose;  // a name, or a number where `named` is false
  bool named = true;
  friend bool operator==(const IdentityLoss&, const IdentityLoss&) = default;
};

// What a run may do with a target here, and whether each way of writing it keeps the whole
// file: its owner, group, permissions, attributes and flags.
struct WriteAccess {
  // Why the file may not be changed at all (no permission, an immutable or append-only file, a
  // read-only file system, a file in use); none where it may.
  std::error_code refused;
  // Why a new copy renamed over the file cannot be made here, and what of the file it would
  // not keep.
  std::vector<CopyObstacle> copy_obstacles;
  std::vector<IdentityLoss> copy_would_lose;
  // What a write in place would clear that this user may not give back.
  std::vector<IdentityLoss> in_place_would_clear;

  bool copy_keeps() const { return copy_obstacles.empty() && copy_would_lose.empty(); }
  bool in_place_keeps() const { return in_place_would_clear.empty(); }
};

// How a new copy came by its bytes.
enum class CopyKind {
  kCloned,  // it shares the file's blocks (XFS, btrfs): only what is written to it is its own
  kCopied,  // its data was copied (holes stay holes)
};

// The run's new copy of a target, beside it in its folder.
struct NewCopy {
  File file;
  std::filesystem::path name;  // in the folder
  CopyKind kind = CopyKind::kCopied;
  // Whether the copy came to exist before MakeCopy failed: a failure to fill it, rather than
  // to create it.
  bool created = false;
  // Why what a failed MakeCopy made could not be removed again (`name` names it); none where
  // nothing is left.
  std::error_code left;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing file for reading and tells what it is, and starts watching it for writes
  // where the platform can. Never blocks (a FIFO without writer opens at once) and never
  // creates anything.
  virtual std::error_code Open(const std::filesystem::path& path, Target& target) = 0;
  // Opens the folder of the file `file`, which was opened at `path`: the folder its own name is
  // in, symbolic links followed. PatchErrc::kFileRemoved or kFileChanged where that name no
  // longer names `file`.
  virtual std::error_code OpenFolder(const std::filesystem::path& path, const File& file,
                                     Folder& folder) = 0;
  // Whether the target's name in `folder` still holds the target as it was opened, and no
  // program wrote to it since: PatchErrc::kFileRemoved where the name is gone, kFileChanged
  // where it names another file or the file changed; the system's error where it cannot tell.
  virtual std::error_code CheckUnchanged(Target& target, const Folder& folder) = 0;
  // What this process may do with `file`, whose name `folder` holds. Writes nothing, and opens
  // the file for writing only where that changes nothing.
  virtual std::error_code Assess(const File& file, const Folder& folder, WriteAccess& access) = 0;

  // One read or write of at most `bytes.size()` bytes at `offset`; `count` says how many were
  // moved (0 for a read at the end of the file). Interrupted calls are retried.
  virtual std::error_code ReadAt(const File& file, std::uint64_t offset, std::span<char> bytes,
                                 std::size_t& count) = 0;
  virtual std::error_code WriteAt(const File& file, std::uint64_t offset,
                                  std::span<const char> bytes, std::size_t& count) = 0;
  // The first stretch of data at or after `offset` of a file `size` bytes long: [start, end);
  // start == size when only a hole follows. By default the whole rest of the file is data.
  virtual std::error_code FindData(const File& file, std::uint64_t offset, std::uint64_t size,
                                   std::uint64_t& start, std::uint64_t& end);
  // Makes the file's data and size durable on the disk.
  virtual std::error_code Flush(const File& file) = 0;
  virtual std::error_code Close(File& file) = 0;

  // The file's identity beyond its bytes.
  virtual std::error_code ReadIdentity(const File& file, Identity& identity) = 0;
  // Makes `file`'s identity `identity`: removes the parts it has that `identity` lacks (a
  // default ACL taken from its folder) and sets, in order, each part that differs; then reads
  // them back, as the bytes are read back: a file system may take a part and keep it not (an
  // owner through a FUSE mount that ignores it), and that is PatchErrc::kNotKept. On failure
  // `part` names the part being removed, set or found not kept, or is empty where the file's
  // own identity could not be read.
  virtual std::error_code SetIdentity(const File& file, const Identity& identity,
                                      std::string& part) = 0;

  // Makes a new copy of `from`, the target whose name `folder` holds and which is `size` bytes
  // long, beside it under a fresh name (the target's name with ".ombrix-patch-XXXXXX.tmp"
  // appended), exclusively, and fills it as the platform does best: a clone where the file
  // system shares blocks, else an in-kernel copy, else a copy through memory; holes stay holes.
  // On Linux it is for its owner alone until it is given an identity; on Windows it keeps
  // streams and attributes. From the moment it exists until Replace or Remove, a signal that
  // ends the program removes it (interrupt_cleanup.h). On failure whatever the call made is
  // removed; PatchErrc::kFileChanged where `from` turns out shorter.
  virtual std::error_code MakeCopy(const Folder& folder, const File& from, std::uint64_t size,
                                   NewCopy& copy) = 0;
  // Opens the new copy again, after it was flushed, to read what the disk holds rather than
  // what the system's cache remembers of it. Reads through `reader` must start at, and cover,
  // multiples of kVerifyAlignment bytes, into memory aligned as much.
  virtual std::error_code OpenForVerifying(const NewCopy& copy, File& reader) = 0;
  // Replaces the target (`folder.name`) with the new copy in one atomic step, once the copy's
  // name is seen to be still its own (PatchErrc::kCopyReplaced otherwise: nothing is renamed),
  // and makes the folder's new entry durable where the platform needs to be told.
  virtual std::error_code Replace(const Folder& folder, const NewCopy& copy) = 0;
  // Removes the new copy, where its name is still its own.
  virtual std::error_code Remove(const Folder& folder, const NewCopy& copy) = 0;

  // Opens the target, whose name `folder` holds, again for reading and writing in place, without
  // truncating it; never another file (PatchErrc::kFileChanged where the name now names one).
  // Two runs do not write one file in place at once (PatchErrc::kLocked). Where the open itself
  // changes what the file shows (overlayfs copies a file up from a lower layer), `target.info`
  // becomes what it shows after the open.
  virtual std::error_code OpenForWriting(Target& target, const Folder& folder, File& writer) = 0;
};

// Reads through OpenForVerifying are aligned to this (the largest sector size in use).
inline constexpr std::size_t kVerifyAlignment = 4096;

// The platform's file system.
FileSystem& RealFileSystem();

// FindData, held to its word: PatchErrc::kFileChanged where the stretch it tells of lies
// before `offset` or is empty, as when the file changes under the look.
std::error_code FindDataAfter(FileSystem& files, const File& file, std::uint64_t offset,
                              std::uint64_t size, std::uint64_t& start, std::uint64_t& end);

// Calls `stretch(start, end)` for each stretch of data of `file`, `size` bytes long, in order,
// as FindData tells them; stops at the first error, its own or `stretch`'s.
std::error_code ForEachDataStretch(
    FileSystem& files, const File& file, std::uint64_t size,
    const std::function<std::error_code(std::uint64_t, std::uint64_t)>& stretch);

// For CheckUnchanged: what `now` (the name's file, or `looked`, why it could not be looked at)
// says of the target.
std::error_code CompareWithOpened(const Target& target, std::error_code looked,
                                  const FileInfo& now);

// Whether an error means that another program holds the file (on Windows a sharing or lock
// violation, such as a running program's file; on Linux a running program's file, ETXTBSY).
bool InUse(std::error_code error);
// Whether a failure to create or rename a file in a folder means that this process may not
// (permission, a read-only file system), rather than that something went wrong.
bool NotPermitted(std::error_code error);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PLATFORM_FILE_SYSTEM_H_
