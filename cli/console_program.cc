#include "cli/console_program.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>

#include "cli/command_line.h"
#include "cli/path_list.h"
#include "cli/report_lines.h"
#include "cli/target_report.h"
#include "cli/terminal_text.h"
#include "frontend/path_text.h"
#include "frontend/target_path.h"
#include "version.h"

namespace ombrix {
namespace {

constexpr std::string_view kProgram = "ombrix-patch-cli";

constexpr std::string_view kUsage =
    "Usage: ombrix-patch-cli [--check] [--restore] [--json | --quiet]\n"
    "                        [--files-from FILE [--null]] [--] [PATH...]\n";

constexpr std::string_view kHelp =
    "Turns the three English texts inside the Ombrix 2000 executable at each PATH into\n"
    "Norwegian, all or nothing, and says for each which state it is in. The file keeps its\n"
    "length, owner, group, permissions, attributes and flags: it is replaced in one step by a\n"
    "new copy where this user can give the copy all of them, else patched in place, else left\n"
    "unchanged with a sentence that says why.\n"
    "\n"
    "  --check            only read each PATH and say whether it is as wanted, or what a\n"
    "                     run would do; never writes (--json also says where each\n"
    "                     text lies)\n"
    "  --restore          want the English texts back (undoes a patch, whole or in part)\n"
    "  --json             report each PATH as one line of JSON on standard output\n"
    "  -q, --quiet        print nothing on standard output; errors still go to standard\n"
    "                     error, and the exit status says the rest\n"
    "  --files-from FILE  also take the paths listed in FILE, one a line ('-': standard\n"
    "                     input); may be given more than once\n"
    "  -0, --null         the lists end each path with a zero byte (find -print0)\n"
    "  -h, --help         show this help and exit\n"
    "  -V, --version      show the version and exit\n"
    "  --                 take every later argument as a PATH\n"
    "\n"
    "Each PATH is tried, in order, and gets one line: on standard output where it is as\n"
    "wanted (or, with --check, a run would make it so), on standard error otherwise.\n"
    "Each PATH has a status; the program's is the highest of them, the worst:\n"
    "  0   as wanted: patched now or already patched (with --restore: restored now, or\n"
    "      already English)\n"
    "  1   with --check: a run would patch it (with --restore: restore it)\n"
    "  2   invalid path: no such file, permission denied, a folder... (the reason says)\n"
    "  3   not the expected program: a text missing in both languages, or in the way\n"
    "  4   error: a run stopped (with --check: this user's run would stop), and the file\n"
    "      was left unchanged\n"
    "  5   partly patched: some texts Norwegian and some English, found so or left so by an\n"
    "      error part way; 'ombrix-patch-cli --restore PATH' makes it whole again\n"
    "  64  the command line was wrong\n"
    "  66  a list of paths could not be read; no PATH was tried\n"
    "  74  output could not be written (standard output closed or full); the PATHs after\n"
    "      it were not tried\n";

int Usage(std::ostream& err, std::string_view problem) {
  err << kProgram << ": " << problem << "\n" << kUsage << "Try '" << kProgram << " --help'.\n";
  return kCliUsage;
}

// ": " and the system's reason for `error`, or nothing where there is none.
std::string SystemReason(int error) {
  return error != 0 ? std::string(": ").append(std::generic_category().message(error)) : "";
}

// Says on standard error that standard output could not be written, with the system's reason,
// and what was left undone because of it.
int ReportLost(std::ostream& err, int reason, std::string_view left_undone) {
  err << kProgram << ": could not write to standard output" << SystemReason(reason) << left_undone
      << "\n"
      << std::flush;
  return kCliReportLost;
}

// Text the user asked for: a failure to write it is the status of a lost report.
int Say(std::ostream& out, std::ostream& err, std::string_view text) {
  errno = 0;
  out << text << std::flush;
  return out ? kCliAsWanted : ReportLost(err, errno, "");
}

// The targets, in the order given: the PATHs and what the lists hold.
bool Targets(const CommandLine& command, std::istream& in, std::ostream& err,
             std::vector<std::filesystem::path>& targets) {
  for (const CommandLine::Source& source : command.sources) {
    if (!source.list) {
      targets.push_back(source.path);
      continue;
    }
    const bool standard_input = source.path == "-";
    std::ifstream file;
    errno = 0;
    if (!standard_input) file.open(source.path, std::ios::binary);
    // A standard input that cannot be read (closed) ends the stream as an empty one would;
    // only the C library's error mark tells the two apart.
    const bool read = (standard_input || file.is_open()) &&
                      ReadPathList(standard_input ? in : static_cast<std::istream&>(file),
                                   command.null, targets) &&
                      !(standard_input && &in == &std::cin && std::ferror(stdin) != 0);
    if (!read) {
      // The streams keep no reason of their own; the system's is in errno where it set one.
      const int reason = errno;
      err << kProgram << ": could not read the list of paths "
          << TerminalText(standard_input ? "on standard input" : Utf8(source.path))
          << SystemReason(reason) << "\n";
      return false;
    }
  }
  return true;
}

}  // namespace

int RunConsoleProgram(const std::vector<std::filesystem::path>& arguments, std::istream& in,
                      std::ostream& out, std::ostream& err, FileSystem& files) {
  CommandLine command;
  if (const std::optional<std::string> problem = ParseCommandLine(arguments, command)) {
    return Usage(err, *problem);
  }
  switch (command.action) {
    case CommandLine::Action::kHelp:
      return Say(out, err,
                 std::string(kUsage) + std::string(kHelp) + std::string(TargetPathHelp()));
    case CommandLine::Action::kVersion:
      return Say(out, err, std::string(kProgram) + " " + OMBRIX_VERSION_TEXT + "\n");
    case CommandLine::Action::kRun:
      break;
  }
  std::vector<std::filesystem::path> targets;
  if (!Targets(command, in, err, targets)) return kCliListUnread;

  int status = kCliAsWanted;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const std::filesystem::path& typed = targets[i];
    TargetReport report = ReportTarget(TargetPath(typed), command.task, files);
    if (report.result == Result::kInvalidPath)
      report.message += TerminalText(WhereLookedFor(typed));
    const int target_status = StatusOf(report.result);
    const bool failed = target_status > kCliWouldChange;
    if (failed) err << kProgram << ": " << PlainReport(typed, report) << "\n" << std::flush;
    errno = 0;
    if (command.task.json) {
      out << JsonReport(typed, report) << "\n" << std::flush;
    } else if (!failed && !command.quiet) {
      out << PlainReport(typed, report) << "\n" << std::flush;
    }
    if (!out) {  // told to no one: the next run's report would be lost too
      const std::size_t untried = targets.size() - i - 1;
      const int reason = errno;
      std::string left_undone;
      if (untried > 0) {
        left_undone.append("; ").append(std::to_string(untried));
        left_undone.append(untried == 1 ? " PATH after " : " PATHs after ");
        left_undone.append(TerminalText(Utf8(typed)));
        left_undone.append(untried == 1 ? " was not tried" : " were not tried");
      }
      return ReportLost(err, reason, left_undone);
    }
    status = std::max(status, target_status);
  }
  return status;
}

}  // namespace ombrix
