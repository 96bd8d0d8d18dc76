#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <string_view>

#include "frontend/path_text.h"

namespace ombrix {
namespace {

// Said the moment --help or --version is read: the rest of the line is not looked at.
struct Stop {
  CommandLine::Action action;
};

constexpr std::string_view kFilesFrom = "--files-from";

}  // namespace

std::optional<std::string> ParseCommandLine(const std::vector<std::filesystem::path>& arguments,
                                            CommandLine& command, bool slash_switches) {
  // After a "--" of its own (not the FILE of --files-from) every argument is a PATH, as given.
  std::vector<std::string> texts;
  std::size_t options_end = arguments.size();
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string text = Utf8(arguments[i]);
    if (text == "--" && (i == 0 || Utf8(arguments[i - 1]) != kFilesFrom)) {
      options_end = i;
      break;
    }
    const bool value = i > 0 && texts.back() == kFilesFrom;
    if (slash_switches && !value && text.size() > 1 && text[0] == '/' &&
        text.find_first_of("/\\", 1) == std::string::npos) {
      std::string name = text.substr(1);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      constexpr std::string_view kLongNames[] = {"check", "restore", "json",    "quiet",
                                                 "null",  "help",    "version", "files-from"};
      if (name == "?" || name == "h") {
        text = "-h";
      } else if (std::find(std::begin(kLongNames), std::end(kLongNames), name) !=
                 std::end(kLongNames)) {
        text = "--" + name;
      } else {
        return "unknown switch '" + text + "'";
      }
    }
    texts.push_back(std::move(text));
  }

  CLI::App app;
  app.set_help_flag();  // the program writes its own help
  // Slashes were read above; CLI11's own reading of them would take every path for a switch.
  app.allow_windows_style_options(false);
  std::vector<std::string> paths;
  std::vector<std::string> lists;
  app.add_flag_callback("-h,--help", [] { throw Stop{CommandLine::Action::kHelp}; })
      ->trigger_on_parse();
  app.add_flag_callback("-V,--version", [] { throw Stop{CommandLine::Action::kVersion}; })
      ->trigger_on_parse();
  for (auto [names, flag] :
       {std::pair{"--check", &command.task.check}, std::pair{"--restore", &command.task.restore},
        std::pair{"--json", &command.task.json}, std::pair{"-q,--quiet", &command.quiet},
        std::pair{"-0,--null", &command.null}}) {
    app.add_flag(names, *flag)->disable_flag_override();
  }
  // One FILE each time, however often it is given.
  CLI::Option* files_from = app.add_option(std::string(kFilesFrom), lists)->allow_extra_args(false);
  CLI::Option* positional = app.add_option("PATH", paths);

  // CLI11 takes its arguments last first.
  try {
    app.parse(std::vector<std::string>(texts.rbegin(), texts.rend()));
  } catch (const Stop& stop) {
    command.action = stop.action;
    return std::nullopt;
  } catch (const CLI::ExtrasError&) {
    return "unknown option '" + app.remaining().front() + "'";
  } catch (const CLI::ParseError& error) {
    if (std::string_view(error.what()).starts_with(kFilesFrom)) {
      return std::string(kFilesFrom) + " needs a FILE";
    }
    // A value given to an option that takes none: --check=yes.
    for (const std::string& text : texts) {
      if (text.starts_with("-") && text.find('=') != text.npos &&
          !text.starts_with(std::string(kFilesFrom) + "=")) {
        return "unknown option '" + text + "'";
      }
    }
    return std::string(error.what());
  }

  // The PATHs and lists in the order given. A PATH is the very argument given (on Windows it may
  // hold what UTF-8 cannot); a list named in --files-from=FILE is the text after the sign.
  // Before "--", no PATH or FILE can be spelt like an option, so each value is the next
  // argument that spells it.
  std::size_t next_argument = 0;
  std::size_t next_path = 0;
  std::size_t next_list = 0;
  for (const CLI::Option* option : app.parse_order()) {
    const bool list = option == files_from;
    if (!list && option != positional) continue;
    const std::string& text = list ? lists[next_list++] : paths[next_path++];
    std::filesystem::path given = PathFromUtf8(text);
    for (; next_argument < texts.size(); ++next_argument) {
      if (texts[next_argument] == text) {
        given = arguments[next_argument++];
        break;
      }
      if (texts[next_argument] == std::string(kFilesFrom) + "=" + text) {
        ++next_argument;
        break;
      }
    }
    // What begins with a dash and is no option, CLI11 takes for a negative number.
    if (!list && text.size() > 1 && text[0] == '-') return "unknown option '" + text + "'";
    command.sources.push_back({given, list});
  }
  for (std::size_t i = options_end + 1; i < arguments.size(); ++i) {
    command.sources.push_back({arguments[i], false});
  }

  if (command.quiet && command.task.json) return "--quiet and --json exclude each other";
  if (command.null && lists.empty()) return "--null is for lists given with --files-from";
  if (command.sources.empty()) return "no PATH given";
  return std::nullopt;
}

}  // namespace ombrix
