// What the console program found or made of one target: its result as a state (as wanted,
// would change, or which failure), the status that goes with it, and the words that say it.
#ifndef OMBRIX_CLI_TARGET_REPORT_H_
#define OMBRIX_CLI_TARGET_REPORT_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "engine/platform/file_system.h"
#include "engine/run/target_check.h"

namespace ombrix {

// What a run or a check is for.
struct Task {
  bool check = false;    // only read the file and say what a run would do
  bool restore = false;  // the wanted state is English (undo), not Norwegian
  bool json = false;     // the report says what the file holds afterwards, read again
};

enum class Result {
  kPatched,         // patched by this run
  kAlreadyPatched,  // patched before; nothing done
  kRestored,        // restored by this run
  kAlreadyEnglish,  // no Norwegian text to turn back; nothing done
  kWouldPatch,      // (a check) a run would patch it
  kWouldRestore,    // (a check with --restore) a run would restore it
  kInvalidPath,     // the path names no regular file this user may read
  kNotExpected,     // not the program: a text missing in both languages, or in the way
  kError,           // an error stopped the run (a check: would stop it); the file unchanged
  kPartlyPatched,   // some texts Norwegian and some English: found so, or left so by an error
};

// The exit status of one result (exit_status.h).
int StatusOf(Result result);
// The result in one word, for JSON: "already_patched".
std::string_view ResultName(Result result);
// The result in words, for a report's line: "already patched".
std::string_view ResultWords(Result result);

struct TargetReport {
  Result result = Result::kPatched;
  // What happened, in words, starting with the state: "already patched: nothing to do".
  std::string message;
  // The engine's own word for the run: "completed", "not_applicable", "invalid_path", "error",
  // or "checked".
  std::string_view outcome;
  // What the file holds, where it was read to tell: afterwards for a run, now for a check.
  std::optional<TargetCheck> check;
};

// Whether --restore would complete on a file that holds `check`: its texts allow it, and this
// user may write it.
inline bool RestoreWouldComplete(const TargetCheck& check) {
  return check.restorable && !check.blocked;
}

// Runs or checks the file at `path` (already turned into a target) as `task` says, through
// `files`. Never throws.
TargetReport ReportTarget(const std::filesystem::path& path, const Task& task, FileSystem& files);

}  // namespace ombrix

#endif  // OMBRIX_CLI_TARGET_REPORT_H_
