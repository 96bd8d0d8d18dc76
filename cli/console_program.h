// The console program for administrators: patches, checks or restores every target named on
// its command line or in its lists, says for each which state it is in (on standard output
// where it is as wanted or a run would make it so, on standard error where not), and sums the
// states up in its exit status (exit_status.h). It runs the window's engine call; it keeps no
// state.
#ifndef OMBRIX_CLI_CONSOLE_PROGRAM_H_
#define OMBRIX_CLI_CONSOLE_PROGRAM_H_

#include <filesystem>
#include <istream>
#include <ostream>
#include <vector>

#include "cli/exit_status.h"
#include "engine/platform/file_system.h"

namespace ombrix {

// Runs the program with `arguments` (without the program's name), reading a list given as "-"
// from `in`, writing results to `out` and errors to `err`, working the files through `files`.
// Returns the exit status. When `out` fails (closed or full), no later target is tried and the
// status is kCliReportLost: nobody would learn what became of them. Paths are used as given,
// except that on Linux a path with a drive letter is looked up in the Wine prefix.
int RunConsoleProgram(const std::vector<std::filesystem::path>& arguments, std::istream& in,
                      std::ostream& out, std::ostream& err, FileSystem& files = RealFileSystem());

}  // namespace ombrix

#endif  // OMBRIX_CLI_CONSOLE_PROGRAM_H_
