// The console program for administrators: patches, checks or restores every target named on
// its command line, says for each what happened, and sums the outcomes up in its exit status.
// It runs the window's engine call and says the window's sentences; it keeps no state.
#ifndef OMBRIX_CLI_CONSOLE_PROGRAM_H_
#define OMBRIX_CLI_CONSOLE_PROGRAM_H_

#include <filesystem>
#include <ostream>
#include <vector>

#include "engine/file_system.h"

namespace ombrix {

// Exit statuses. With several targets the highest status of any target wins.
inline constexpr int kCliAllDone = 0;        // every target patched, restored, or patchable
inline constexpr int kCliNotApplicable = 1;  // some target was not applicable
inline constexpr int kCliInvalidPath = 2;    // some path was invalid
inline constexpr int kCliRunError = 3;       // an error stopped a run (or, with --check, would
                                             // stop this user's run); that target unchanged
inline constexpr int kCliPartlyPatched = 4;  // an error stopped a run part way: that target may
                                             // be partly patched (--restore makes it whole)
inline constexpr int kCliUsage = 64;         // the command line was wrong (EX_USAGE)
inline constexpr int kCliReportLost = 74;    // a report could not be written (EX_IOERR)

// Runs the program with `arguments` (without the program's name), writing each target's
// report to `out` and usage errors to `err`, working the files through `files`. Returns the
// exit status. When a report cannot be written (standard output closed or full), no later
// target is tried and the status is kCliReportLost: nobody would learn what became of them. Paths
// are used as given, except that on Linux a path with a drive letter is looked up in the Wine
// prefix.
int RunConsoleProgram(const std::vector<std::filesystem::path>& arguments, std::ostream& out,
                      std::ostream& err, FileSystem& files = RealFileSystem());

}  // namespace ombrix

#endif  // OMBRIX_CLI_CONSOLE_PROGRAM_H_
