// The failures of a run that are not the system's own errors, as error codes beside the
// system's. Their words for users are the front ends' (frontend/run_words.cc); the category's
// messages are short names for logs and tests.
#ifndef OMBRIX_ENGINE_PLATFORM_FILE_ERRORS_H_
#define OMBRIX_ENGINE_PLATFORM_FILE_ERRORS_H_

#include <system_error>

namespace ombrix {

enum class PatchErrc {
  kFileChanged = 1,  // another program changed the file while the run worked on it
  kNotRegularFile,   // the path no longer names a regular file
  kCopyDiffers,      // the new copy, read back, is not what was written to it
  kFileRemoved,      // another program removed or renamed the file while the run worked on it
  kLengthUntrue,     // the file reads more bytes than its length says (a file of /proc, say)
  kMountPoint,       // the file is a mount point, which no rename can replace
  kImmutable,        // the file is immutable (chattr +i)
  kAppendOnly,       // the file is append-only (chattr +a)
  kCopyReplaced,     // another program moved or replaced the new copy while it was written
  kNotKept,          // the run could not keep the file's owner, group, permissions, attributes
  kInterrupted,      // the program was told to end (Ctrl+C) while the run worked
  kLocked,           // another program holds a lock on the file (another run writing it)
  kDeleted,          // the file has no name any more (deleted while open): nothing to replace
};
const std::error_category& PatchCategory();
std::error_code make_error_code(PatchErrc error);

}  // namespace ombrix

template <>
struct std::is_error_code_enum<ombrix::PatchErrc> : std::true_type {};

#endif  // OMBRIX_ENGINE_PLATFORM_FILE_ERRORS_H_
