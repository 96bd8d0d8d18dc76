// The error of a patch run that failed in reading or writing after its probe succeeded.
#ifndef OMBRIX_ENGINE_PATCH_ERROR_H_
#define OMBRIX_ENGINE_PATCH_ERROR_H_

#include <filesystem>
#include <string>
#include <system_error>

namespace ombrix {

// Failures of a run that are not the system's own errors.
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
};
const std::error_category& PatchCategory();
std::error_code make_error_code(PatchErrc error);

// Whether the target still holds exactly the bytes it held before the run.
enum class TargetState { kUnchanged, kMayBeDamaged };

// A failed file-system step. what() names the step, the system's reason and the path, as
// std::filesystem::filesystem_error does ("filesystem error: cannot <step>: <reason> [<path>]").
class PatchError : public std::filesystem::filesystem_error {
 public:
  // `step` says what could not be done, as a phrase that follows "cannot": "read the file".
  // `because`, where given, says why in more words than the code's message.
  PatchError(const std::string& step, const std::filesystem::path& path, std::error_code reason,
             TargetState target = TargetState::kUnchanged, const std::string& because = {});

  // The step that failed, without "cannot": "read the file".
  const std::string& step() const noexcept { return step_; }
  // Why, in words: `because`, else the code's message.
  std::string reason() const { return because_.empty() ? code().message() : because_; }
  // Whether the target was left exactly as it was. Only a failure while overwriting the file in
  // place, whose undoing failed too, can leave it otherwise.
  TargetState target() const noexcept { return target_; }

 private:
  std::string step_;
  TargetState target_;
  std::string because_;
};

}  // namespace ombrix

template <>
struct std::is_error_code_enum<ombrix::PatchErrc> : std::true_type {};

#endif  // OMBRIX_ENGINE_PATCH_ERROR_H_
