// A seam for tests: every file-system call of a patch run first asks here whether it is to fail.
// With no hook set, nothing fails and the cost is one test of a null function.
#ifndef OMBRIX_ENGINE_FILE_FAULTS_H_
#define OMBRIX_ENGINE_FILE_FAULTS_H_

#include <functional>
#include <string_view>

namespace ombrix {

// The file-system calls of a run, one name for each kind of call on either platform.
enum class FileCall {
  kOpenForReading,   // open(O_RDONLY) / CreateFileW(GENERIC_READ)
  kQueryFile,        // fstat / GetFileInformationByHandle
  kRead,             // read / ReadFile
  kClose,            // close / CloseHandle
  kResolveLinks,     // realpath / GetFinalPathNameByHandleW, for a symbolic link
  kCreateNew,        // open(O_CREAT | O_EXCL) / CreateFileW(CREATE_NEW)
  kWrite,            // write, pwrite / WriteFile
  kCopyPermissions,  // fchown, fchmod / (attributes are given at creation)
  kFlush,            // fsync / FlushFileBuffers
  kReplace,          // rename / MoveFileExW
  kFlushFolder,      // fsync of the folder / (nothing on Windows)
  kOpenForWriting,   // open(O_WRONLY) / CreateFileW(GENERIC_WRITE), to overwrite in place
};

// The call's name as the tests and their reports print it: "write".
std::string_view FileCallName(FileCall call);

// Returning true from the hook makes that call fail with an I/O error instead of being made.
// Calls that only clean up after a failure (removing a new file) are not asked.
using FileFaultHook = std::function<bool(FileCall)>;

// Sets the hook for the calling thread until it is reset with an empty hook.
void SetFileFaultHook(FileFaultHook hook);

// Whether the hook wants `call` to fail; false when no hook is set.
bool FileFaultInjected(FileCall call);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_FILE_FAULTS_H_
