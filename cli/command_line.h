// The console program's command line, read into what it asks for.
#ifndef OMBRIX_CLI_COMMAND_LINE_H_
#define OMBRIX_CLI_COMMAND_LINE_H_

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/target_report.h"

namespace ombrix {

struct CommandLine {
  enum class Action { kRun, kHelp, kVersion };
  // A PATH, or with `list` a file that lists paths (--files-from; "-" is standard input).
  struct Source {
    std::filesystem::path path;
    bool list = false;
  };

  Action action = Action::kRun;
  Task task;
  bool quiet = false;           // nothing on standard output
  bool null = false;            // the lists are separated by zero bytes, not line ends
  std::vector<Source> sources;  // in the order given
};

// Whether switches may also be written as Windows administrators write them: /check, /?, /h.
#ifdef _WIN32
inline constexpr bool kSlashSwitches = true;
#else
inline constexpr bool kSlashSwitches = false;
#endif

// Reads `arguments` (without the program's name) into `command`. Returns what is wrong with them,
// in words, or nothing. --help and --version end the reading where they stand. With
// `slash_switches`, an argument that is a slash and one word with no further separator is a
// switch (/check, /json, /?, /h; any letter case), and one that names no option is wrong; a path
// with a further separator (/Games/Ombrix.exe, /) stays a path.
std::optional<std::string> ParseCommandLine(const std::vector<std::filesystem::path>& arguments,
                                            CommandLine& command,
                                            bool slash_switches = kSlashSwitches);

}  // namespace ombrix

#endif  // OMBRIX_CLI_COMMAND_LINE_H_
