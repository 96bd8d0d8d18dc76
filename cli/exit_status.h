// The console program's exit statuses. Each PATH has one; the program's is the highest of
// them, so that a batch ends with its worst: a file left partly patched above an error that
// left a file unchanged, above a file that is not the program, above an invalid path, above a
// file a run would change, above a file that is as wanted.
#ifndef OMBRIX_CLI_EXIT_STATUS_H_
#define OMBRIX_CLI_EXIT_STATUS_H_

namespace ombrix {

inline constexpr int kCliAsWanted = 0;       // patched or restored now, or already so
inline constexpr int kCliWouldChange = 1;    // (--check) a run would patch or restore it
inline constexpr int kCliInvalidPath = 2;    // no such file, no permission to read, a folder...
inline constexpr int kCliNotExpected = 3;    // not the expected program: a text missing or in
                                             // the way
inline constexpr int kCliRunError = 4;       // an error stopped the run (--check: would stop
                                             // this user's run); the file left unchanged
inline constexpr int kCliPartlyPatched = 5;  // the file is partly patched: found so, or left so
                                             // by an error part way (--restore makes it whole)
inline constexpr int kCliUsage = 64;         // the command line was wrong (EX_USAGE)
inline constexpr int kCliListUnread = 66;    // a list of paths could not be read (EX_NOINPUT)
inline constexpr int kCliReportLost = 74;    // output could not be written (EX_IOERR)

}  // namespace ombrix

#endif  // OMBRIX_CLI_EXIT_STATUS_H_
