// How an error that ended a run is told to the user, by the window and by the console program:
// what could not be done, the system's reason, and what became of the file.
#ifndef OMBRIX_UI_RUN_ERROR_H_
#define OMBRIX_UI_RUN_ERROR_H_

#include <exception>
#include <filesystem>
#include <optional>
#include <string>

namespace ombrix {

// One line, UTF-8: "Could not flush the new copy to the disk: Input/output error. The file was
// left unchanged." For a file that may be partly patched, `restorable` (where known: the file
// was read again) says whether 'ombrix-patch-cli --restore' would make it whole again.
std::string RunErrorSentence(const std::exception& error,
                             std::optional<bool> restorable = std::nullopt);

// What could not be done and why, without what became of the file: "Could not change the file:
// Permission denied."
std::string RunErrorReason(const std::exception& error);

// The window's report of an error that escaped a run on `path`: the file, then the sentence.
std::string DescribeRunError(const std::filesystem::path& path, const std::exception& error);

}  // namespace ombrix

#endif  // OMBRIX_UI_RUN_ERROR_H_
