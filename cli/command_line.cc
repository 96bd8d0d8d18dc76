#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <string_view>

#include "frontend/path_text.h"

namespace ombrix {
namespace {

// Said the moment --help or --version is read: the rest of the line is not looked at.
struct Stop {
  CommandLine::Action action;
};

}  // namespace

std::optional<std::string> ParseCommandLine(const std::vector<std::filesystem::path>& arguments,
                                            CommandLine& command) {
  CLI::App app;
  app.set_help_flag();  // the program writes its own help
  std::vector<std::string> paths;
  std::vector<std::string> lists;
  app.add_flag_callback("-h,--help", [] { throw Stop{CommandLine::Action::kHelp}; })
      ->trigger_on_parse();
  app.add_flag_callback("-V,--version", [] { throw Stop{CommandLine::Action::kVersion}; })
      ->trigger_on_parse();
  app.add_flag("--check", command.task.check);
  app.add_flag("--restore", command.task.restore);
  app.add_flag("--json", command.task.json);
  app.add_flag("-q,--quiet", command.quiet);
  app.add_flag("-0,--null", command.null);
  CLI::Option* files_from = app.add_option("--files-from", lists);
  CLI::Option* positional = app.add_option("PATH", paths);

  // CLI11 takes its arguments last first, as UTF-8.
  std::vector<std::string> texts;
  for (auto argument = arguments.rbegin(); argument != arguments.rend(); ++argument) {
    texts.push_back(Utf8(*argument));
  }
  try {
    app.parse(texts);
  } catch (const Stop& stop) {
    command.action = stop.action;
    return std::nullopt;
  } catch (const CLI::ExtrasError&) {
    for (const std::string& extra : app.remaining()) {
      if (extra != "--") return "unknown option '" + extra + "'";
    }
    return "unknown option";
  } catch (const CLI::ParseError& error) {
    if (files_from->count() == 0 && error.get_name() == "ArgumentMismatch") {
      return "--files-from needs a FILE";
    }
    return std::string(error.what());
  }

  // The PATHs and lists in the order given. A PATH is the very argument given (on Windows it may
  // hold what UTF-8 cannot); a list named in --files-from=FILE is the text after the sign.
  std::size_t next_argument = 0;
  std::size_t next_path = 0;
  std::size_t next_list = 0;
  bool options_end = false;
  for (const CLI::Option* option : app.parse_order()) {
    const bool list = option == files_from;
    if (!list && option != positional) continue;
    const std::string& text = list ? lists[next_list++] : paths[next_path++];
    std::filesystem::path given = PathFromUtf8(text);
    for (; next_argument < arguments.size(); ++next_argument) {
      const std::string argument = Utf8(arguments[next_argument]);
      if (argument == "--" && !options_end) {
        options_end = true;
      } else if (argument == text) {
        given = arguments[next_argument++];
        break;
      } else if (argument.ends_with("=" + text)) {
        ++next_argument;
        break;
      }
    }
    // What begins with a dash before "--" and is no option CLI11 knows, it takes for a number.
    if (option == positional && !options_end && text.size() > 1 && text[0] == '-') {
      return "unknown option '" + text + "'";
    }
    command.sources.push_back({given, list});
  }

  if (command.quiet && command.task.json) return "--quiet and --json exclude each other";
  if (command.null && lists.empty()) return "--null is for lists given with --files-from";
  if (command.sources.empty()) return "no PATH given";
  return std::nullopt;
}

}  // namespace ombrix
