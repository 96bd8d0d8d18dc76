// Making a run's file-system calls fail on purpose, the way leveldb and SQLite test their I/O:
// a FileSystem that wraps the real one and fails the calls it is told to, and a plan that fails
// the Nth call, alone or together with every call after it.
#ifndef OMBRIX_ENGINE_TESTING_FAULTY_FILE_SYSTEM_H_
#define OMBRIX_ENGINE_TESTING_FAULTY_FILE_SYSTEM_H_

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/file_system.h"

namespace ombrix::testing {

// The calls of a run, one name for each kind of call on either platform.
enum class FileCall {
  kOpenForReading,    // open(O_RDONLY) / CreateFileW(GENERIC_READ)
  kQueryFile,         // fstat, stat / GetFileInformationByHandle
  kRead,              // pread / ReadFile
  kClose,             // close / CloseHandle
  kResolveLinks,      // realpath / GetFinalPathNameByHandleW, for a symbolic link
  kCheckFolder,       // the folder's attributes (FS_IOC_GETFLAGS) / (nothing)
  kCheckWritable,     // faccessat(W_OK) / (nothing)
  kCreateCopy,        // open(O_CREAT | O_EXCL) / CopyFileExW(COPY_FILE_FAIL_IF_EXISTS)
  kClone,             // ioctl(FICLONE) / (not supported)
  kFindData,          // lseek(SEEK_DATA, SEEK_HOLE) / (the whole file is data)
  kCopyRange,         // copy_file_range / (not supported)
  kSetSize,           // ftruncate / SetFileInformationByHandle(FileEndOfFileInfo)
  kWrite,             // pwrite / WriteFile
  kReadIdentity,      // fstat, flistxattr, fgetxattr / GetFileInformationByHandleEx,
                      // GetSecurityInfo
  kSetAttribute,      // fchown, fchmod, fsetxattr / SetFileInformationByHandle, SetSecurityInfo
  kRemoveAttribute,   // fremovexattr / (never needed)
  kFlush,             // fsync / FlushFileBuffers
  kOpenForVerifying,  // open, posix_fadvise(DONTNEED) / CreateFileW(FILE_FLAG_NO_BUFFERING)
  kReplace,           // rename / MoveFileExW
  kFlushFolder,       // fsync of the folder / (nothing)
  kOpenForWriting,    // open(O_RDWR) / CreateFileW(GENERIC_WRITE), to overwrite in place
};

// The call's name as the tests and their reports print it: "write".
std::string_view FileCallName(FileCall call);

// Asked before each call whether it is to fail instead of being made.
using FailDecision = std::function<bool(FileCall)>;

// The real file system, or `base`, with the calls that `fails` picks failing with `error` (an
// I/O error unless a test chooses another: not_supported makes the kernel's copy fall back).
// Removing a copy, which only cleans up after a failure, is never made to fail.
class FaultyFileSystem : public FileSystem {
 public:
  explicit FaultyFileSystem(FailDecision fails, FileSystem& base = RealFileSystem())
      : fails_(std::move(fails)), base_(base) {}

  std::error_code OpenForReading(const std::filesystem::path& path, File& file) override;
  std::error_code OpenForWriting(const std::filesystem::path& path, File& file) override;
  std::error_code Query(const File& file, FileInfo& info) override;
  std::error_code QueryPath(const std::filesystem::path& path, FileInfo& info) override;
  std::error_code ResolveLinks(const std::filesystem::path& path,
                               std::filesystem::path& resolved) override;
  std::error_code CheckFolder(const std::filesystem::path& folder) override;
  std::error_code CheckWritable(const std::filesystem::path& path) override;
  std::error_code ReadAt(const File& file, std::uint64_t offset, std::span<char> bytes,
                         std::size_t& count) override;
  std::error_code WriteAt(const File& file, std::uint64_t offset, std::span<const char> bytes,
                          std::size_t& count) override;
  std::error_code Flush(const File& file) override;
  std::error_code Close(File& file) override;
  std::error_code CreateCopy(const std::filesystem::path& from, const std::filesystem::path& copy,
                             File& file, bool& filled) override;
  std::error_code Clone(const File& from, const File& to) override;
  std::error_code FindData(const File& file, std::uint64_t offset, std::uint64_t size,
                           std::uint64_t& start, std::uint64_t& end) override;
  std::error_code CopyRange(const File& from, const File& to, std::uint64_t offset,
                            std::uint64_t length, std::uint64_t& copied) override;
  std::error_code SetSize(const File& file, std::uint64_t size) override;
  std::error_code ReadIdentity(const File& file, std::vector<FileAttribute>& identity) override;
  std::error_code SetAttribute(const File& file, const FileAttribute& attribute) override;
  std::error_code RemoveAttribute(const File& file, const std::string& name) override;
  std::error_code OpenForVerifying(const std::filesystem::path& path, File& file) override;
  std::error_code Replace(const std::filesystem::path& from,
                          const std::filesystem::path& to) override;
  std::error_code Remove(const std::filesystem::path& path) override;
  std::error_code FlushFolder(const std::filesystem::path& folder) override;

  std::error_code error = std::make_error_code(std::errc::io_error);

 private:
  bool Fails(FileCall call) { return fails_(call); }

  FailDecision fails_;
  FileSystem& base_;
};

// A FaultyFileSystem for fixtures: nothing fails until a test sets `fails`.
class SettableFaults : public FaultyFileSystem {
 public:
  SettableFaults() : FaultyFileSystem([this](FileCall call) { return fails && fails(call); }) {}
  FailDecision fails;
};

// Fails call number `fail_at` (counted from 1) and, for kThatCallAndAfter, every later one;
// with `fail_at` 0 nothing fails and the plan only records. Records every call it was asked
// about.
class FaultPlan : public FaultyFileSystem {
 public:
  enum class Extent { kThatCall, kThatCallAndAfter };

  explicit FaultPlan(int fail_at = 0, Extent extent = Extent::kThatCall);

  const std::vector<FileCall>& calls() const { return calls_; }
  // The call made to fail first, if the run got that far.
  std::optional<FileCall> failed() const;

 private:
  int fail_at_;
  Extent extent_;
  std::vector<FileCall> calls_;
};

}  // namespace ombrix::testing

#endif  // OMBRIX_ENGINE_TESTING_FAULTY_FILE_SYSTEM_H_
