#include "cli/command_line.h"

#include <string_view>

#include "frontend/path_text.h"

namespace ombrix {

std::optional<std::string> ParseCommandLine(const std::vector<std::filesystem::path>& arguments,
                                            CommandLine& command) {
  constexpr std::string_view kFilesFrom = "--files-from";
  bool options_end = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string text = Utf8(arguments[i]);
    if (options_end || text.empty() || text[0] != '-' || text == "-") {
      command.sources.push_back({arguments[i], false});
    } else if (text == "--") {
      options_end = true;
    } else if (text == "--help" || text == "-h") {
      command.action = CommandLine::Action::kHelp;
      return std::nullopt;
    } else if (text == "--version" || text == "-V") {
      command.action = CommandLine::Action::kVersion;
      return std::nullopt;
    } else if (text == "--check") {
      command.task.check = true;
    } else if (text == "--restore") {
      command.task.restore = true;
    } else if (text == "--json") {
      command.task.json = true;
    } else if (text == "--quiet" || text == "-q") {
      command.quiet = true;
    } else if (text == "--null" || text == "-0") {
      command.null = true;
    } else if (text == kFilesFrom) {
      if (++i == arguments.size()) return "--files-from needs a FILE";
      command.sources.push_back({arguments[i], true});
    } else if (text.starts_with(std::string(kFilesFrom) + "=")) {
      command.sources.push_back({PathFromUtf8(text.substr(kFilesFrom.size() + 1)), true});
    } else {
      return "unknown option '" + text + "'";
    }
  }
  if (command.quiet && command.task.json) return "--quiet and --json exclude each other";
  bool lists = false;
  for (const CommandLine::Source& source : command.sources) lists = lists || source.list;
  if (command.null && !lists) return "--null is for lists given with --files-from";
  if (command.sources.empty()) return "no PATH given";
  return std::nullopt;
}

}  // namespace ombrix
