// A FileSystem that hands every call to another one, as leveldb's EnvWrapper does: a test's file
// system derives from it and overrides only what it changes, or looks at each call as it passes
// through Before.
#ifndef OMBRIX_ENGINE_TESTING_FILE_SYSTEM_WRAPPER_H_
#define OMBRIX_ENGINE_TESTING_FILE_SYSTEM_WRAPPER_H_

#include <string_view>

#include "engine/file_system.h"

namespace ombrix::testing {

// The calls of a run, one name for each kind of call on either platform.
enum class FileCall {
  kOpenForReading,    // open(O_RDONLY) / CreateFileW(GENERIC_READ)
  kQueryFile,         // fstat, fstatat / GetFileInformationByHandle
  kOpenFolder,        // realpath, open(O_DIRECTORY) / GetFinalPathNameByHandleW, CreateFileW
  kAssess,            // faccessat, FS_IOC_GETFLAGS, capget / ReOpenFile(GENERIC_WRITE)
  kOpenForWriting,    // openat(O_RDWR) / ReOpenFile(GENERIC_WRITE), to overwrite in place
  kRead,              // pread / ReadFile
  kWrite,             // pwrite / WriteFile
  kFlush,             // fsync / FlushFileBuffers
  kClose,             // close / CloseHandle
  kCreateCopy,        // openat(O_CREAT | O_EXCL) / CopyFileExW(COPY_FILE_FAIL_IF_EXISTS)
  kFillCopy,          // FICLONE, copy_file_range, pread and pwrite / (filled already)
  kFindData,          // lseek(SEEK_DATA, SEEK_HOLE) / (the whole file is data)
  kReadIdentity,      // fstat, flistxattr, fgetxattr / GetFileInformationByHandleEx,
                      // GetSecurityInfo
  kSetAttribute,      // fchown, fchmod, fsetxattr / SetFileInformationByHandle, SetSecurityInfo
  kRemoveAttribute,   // fremovexattr / (never needed)
  kOpenForVerifying,  // dup, posix_fadvise(DONTNEED) / ReOpenFile(FILE_FLAG_NO_BUFFERING)
  kReplace,           // renameat / SetFileInformationByHandle(FileRenameInfo)
  kRemove,            // unlinkat / SetFileInformationByHandle(FileDispositionInfo)
  kFlushFolder,       // fsync of the folder / (nothing)
  kWatch,             // inotify / (not supported)
  kWrittenSince,      // read of inotify events / (not supported)
};

// The call's name as the tests and their reports print it: "write".
std::string_view FileCallName(FileCall call);

class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& base = RealFileSystem()) : base_(base) {}

  std::error_code OpenForReading(const std::filesystem::path& path, File& file) override {
    return Pass(FileCall::kOpenForReading, [&] { return base_.OpenForReading(path, file); });
  }
  std::error_code Query(const File& file, FileInfo& info) override {
    return Pass(FileCall::kQueryFile, [&] { return base_.Query(file, info); });
  }
  std::error_code OpenFolder(const std::filesystem::path& path, const File& file,
                             Folder& folder) override {
    return Pass(FileCall::kOpenFolder, [&] { return base_.OpenFolder(path, file, folder); });
  }
  std::error_code QueryIn(const Folder& folder, const std::filesystem::path& name,
                          FileInfo& info) override {
    return Pass(FileCall::kQueryFile, [&] { return base_.QueryIn(folder, name, info); });
  }
  std::error_code Assess(const File& file, const Folder& folder, WriteAccess& access) override {
    return Pass(FileCall::kAssess, [&] { return base_.Assess(file, folder, access); });
  }
  std::error_code OpenForWriting(const File& file, const Folder& folder, File& writer) override {
    return Pass(FileCall::kOpenForWriting,
                [&] { return base_.OpenForWriting(file, folder, writer); });
  }
  std::error_code ReadAt(const File& file, std::uint64_t offset, std::span<char> bytes,
                         std::size_t& count) override {
    return Pass(FileCall::kRead, [&] { return base_.ReadAt(file, offset, bytes, count); });
  }
  std::error_code WriteAt(const File& file, std::uint64_t offset, std::span<const char> bytes,
                          std::size_t& count) override {
    return Pass(FileCall::kWrite, [&] { return base_.WriteAt(file, offset, bytes, count); });
  }
  std::error_code Flush(const File& file) override {
    return Pass(FileCall::kFlush, [&] { return base_.Flush(file); });
  }
  std::error_code Close(File& file) override {
    return Pass(FileCall::kClose, [&] { return base_.Close(file); });
  }
  std::error_code CreateCopy(const Folder& folder, const File& from,
                             const std::filesystem::path& name, File& copy) override {
    return Pass(FileCall::kCreateCopy, [&] { return base_.CreateCopy(folder, from, name, copy); });
  }
  std::error_code FillCopy(const File& from, const File& copy, std::uint64_t size,
                           CopyKind& kind) override {
    return Pass(FileCall::kFillCopy, [&] { return base_.FillCopy(from, copy, size, kind); });
  }
  std::error_code FindData(const File& file, std::uint64_t offset, std::uint64_t size,
                           std::uint64_t& start, std::uint64_t& end) override {
    return Pass(FileCall::kFindData,
                [&] { return base_.FindData(file, offset, size, start, end); });
  }
  std::error_code ReadIdentity(const File& file, std::vector<FileAttribute>& identity) override {
    return Pass(FileCall::kReadIdentity, [&] { return base_.ReadIdentity(file, identity); });
  }
  std::error_code SetAttribute(const File& file, const FileAttribute& attribute) override {
    return Pass(FileCall::kSetAttribute, [&] { return base_.SetAttribute(file, attribute); });
  }
  std::error_code RemoveAttribute(const File& file, const std::string& name) override {
    return Pass(FileCall::kRemoveAttribute, [&] { return base_.RemoveAttribute(file, name); });
  }
  std::error_code OpenForVerifying(const File& copy, File& reader) override {
    return Pass(FileCall::kOpenForVerifying, [&] { return base_.OpenForVerifying(copy, reader); });
  }
  std::error_code Replace(const Folder& folder, const std::filesystem::path& name,
                          const File& copy) override {
    return Pass(FileCall::kReplace, [&] { return base_.Replace(folder, name, copy); });
  }
  std::error_code Remove(const Folder& folder, const std::filesystem::path& name,
                         const File& copy) override {
    return Pass(FileCall::kRemove, [&] { return base_.Remove(folder, name, copy); });
  }
  std::error_code FlushFolder(const Folder& folder) override {
    return Pass(FileCall::kFlushFolder, [&] { return base_.FlushFolder(folder); });
  }
  std::error_code Watch(const File& file, File& watch) override {
    return Pass(FileCall::kWatch, [&] { return base_.Watch(file, watch); });
  }
  std::error_code WrittenSince(const File& watch, bool& written) override {
    return Pass(FileCall::kWrittenSince, [&] { return base_.WrittenSince(watch, written); });
  }

 protected:
  // Asked before each call: an error returned here is the call's answer, and the call is not
  // made.
  virtual std::error_code Before(FileCall /*call*/) { return {}; }

 private:
  template <typename Call>
  std::error_code Pass(FileCall kind, Call call) {
    if (const std::error_code error = Before(kind)) return error;
    return call();
  }

  FileSystem& base_;
};

}  // namespace ombrix::testing

#endif  // OMBRIX_ENGINE_TESTING_FILE_SYSTEM_WRAPPER_H_
