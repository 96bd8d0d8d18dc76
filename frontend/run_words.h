// The words in which every front end tells what became of a run: the one place where a failure
// of the engine (its step, the system's reason, what became of the file, what stood in the way)
// becomes English, for the windows' messages and the console program's lines alike.
#ifndef OMBRIX_FRONTEND_RUN_WORDS_H_
#define OMBRIX_FRONTEND_RUN_WORDS_H_

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "engine/run/failure.h"
#include "engine/run/target_file.h"

namespace ombrix {

// The reason an error code stands for: the project's own words for the run's failures
// (PatchErrc), else the system's.
std::string ReasonText(std::error_code error);

// What could not be done and why, without what became of the file: "Could not change the file:
// Permission denied."
std::string FailureReason(const Failure& failure);
std::string RunErrorReason(const std::exception& error);

// Why a completed run wrote the file in place rather than through a new copy, as a phrase: "no
// room for a new copy on the disk". Empty where it made a new copy.
std::string InPlaceReasonWords(const Written& written);

// One line, UTF-8: "Could not flush the new copy to the disk: Input/output error. The file was
// left unchanged." For a file that may be partly patched, `restorable` (where known: the file
// was read again) says whether 'ombrix-patch-cli --restore' would make it whole again.
std::string RunErrorSentence(const std::exception& error,
                             std::optional<bool> restorable = std::nullopt);

// The window's report of an error that escaped a run on `path`: the file, then the sentence.
std::string DescribeRunError(const std::filesystem::path& path, const std::exception& error);

// Written on standard error by a signal that ends the program while a patch in place cannot be
// undone (CleanUpOnInterrupt).
inline constexpr std::string_view kInterruptedNotUndone =
    "Interrupted while the file was being patched in place, and its old bytes could not all be "
    "put back: the file may be partly patched. 'ombrix-patch-cli --restore' makes it whole "
    "again.\n";

}  // namespace ombrix

#endif  // OMBRIX_FRONTEND_RUN_WORDS_H_
