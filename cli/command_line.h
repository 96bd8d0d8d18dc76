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

// Reads `arguments` (without the program's name) into `command`. Returns what is wrong with them,
// in words, or nothing. --help and --version end the reading where they stand.
std::optional<std::string> ParseCommandLine(const std::vector<std::filesystem::path>& arguments,
                                            CommandLine& command);

}  // namespace ombrix

#endif  // OMBRIX_CLI_COMMAND_LINE_H_
