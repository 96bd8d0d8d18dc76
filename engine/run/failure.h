// How a run says that it failed. Inside the engine a step answers with a Failure: what could not
// be done, the system's reason, and what became of the file (an empty Failure is success). At
// the engine's edge (RunPatch, CheckTarget) a Failure is thrown as a PatchError. Neither holds
// words for users: the front ends make them (frontend/run_words.h).
#ifndef OMBRIX_ENGINE_RUN_FAILURE_H_
#define OMBRIX_ENGINE_RUN_FAILURE_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "engine/platform/file_system.h"

namespace ombrix {

// The step of a run that failed.
enum class Step {
  kOpen,              // open the file for reading
  kRead,              // read the file
  kHoldBuffer,        // hold the read buffer in memory (`detail`: its size in bytes)
  kCheckForChanges,   // look whether another program changed the file
  kFindInFolder,      // find the file in its folder
  kBeginWriting,      // the file was found changed before anything was written
  kAssess,            // find out what this user may do with the file
  kChange,            // change the file at all (`code`: why it may not be changed)
  kKeepAsItIs,        // patch the file and keep it as it is otherwise (`access`: why not)
  kCreateCopy,        // create a new copy of the file in its folder
  kFillCopy,          // copy the file into the new copy
  kWriteCopy,         // write the new copy of the file
  kReadIdentity,      // read the file's attributes
  kReadCopyIdentity,  // read the new copy's attributes
  kRemoveFromCopy,    // remove from the new copy a part it took from its folder (`detail`)
  kGiveCopy,          // give the new copy a part of the file's identity (`detail`)
  kFlushCopy,         // flush the new copy to the disk
  kReadBack,          // read back the new copy of the file
  kReplace,           // replace the file with the new copy
  kOpenForWriting,    // open the file for writing in place
  kWriteInPlace,      // overwrite the file in place
  kGiveBack,          // give the file back a part the write in place cleared (`detail`)
  kFlushFile,         // flush the file to the disk
  kStillNamed,        // keep the file written in place at its path (another took its name)
};

// Whether the target still holds exactly the bytes it held before the run.
enum class TargetState { kUnchanged, kMayBeDamaged };

struct Failure {
  std::error_code code;  // the system's reason, or a PatchErrc; none: no failure
  Step step = Step::kOpen;
  std::string detail;  // what the step concerns, where it says so above
  TargetState target = TargetState::kUnchanged;
  WriteAccess access;  // with kKeepAsItIs: what each way of writing would not keep
  // A new copy that could not be removed after the failure, and why.
  std::filesystem::path copy_left;
  std::error_code copy_left_reason;

  explicit operator bool() const { return static_cast<bool>(code); }
};

// A Failure with nothing more to say than its code and step; none where `code` is none.
Failure Fail(std::error_code code, Step step);

// A failure of a run after its probe succeeded, thrown by the engine's edge. It is a
// std::filesystem::filesystem_error naming the path and the system's reason.
class PatchError : public std::filesystem::filesystem_error {
 public:
  PatchError(const Failure& failure, const std::filesystem::path& path);

  const Failure& failure() const noexcept { return failure_; }
  Step step() const noexcept { return failure_.step; }
  // Whether the target was left exactly as it was. Only a failure while overwriting the file in
  // place, whose undoing failed too, can leave it otherwise.
  TargetState target() const noexcept { return failure_.target; }

 private:
  Failure failure_;
};

// Throws `failure` as a PatchError where it is one.
void ThrowIfFailed(const Failure& failure, const std::filesystem::path& path);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_RUN_FAILURE_H_
