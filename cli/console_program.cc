#include "cli/console_program.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "cli/report_text.h"
#include "cli/target_path.h"
#include "engine/patch_run.h"
#include "engine/target_check.h"
#include "ui/form_design.h"
#include "ui/run_error.h"
#include "version.h"

namespace ombrix {
namespace {

constexpr std::string_view kProgram = "ombrix-patch-cli";

constexpr std::string_view kUsage =
    "Usage: ombrix-patch-cli [--check | --restore] [--json] PATH...\n";

constexpr std::string_view kHelp =
    "Turns the three English texts inside the Ombrix 2000 executable at each PATH into\n"
    "Norwegian, all or nothing, and says for each what happened. The file keeps its length,\n"
    "owner, group, permissions, attributes and flags: it is replaced in one step by a new\n"
    "copy where this user can give the copy all of them, else patched in place, else left\n"
    "unchanged with a sentence that says why.\n"
    "\n"
    "  --check     only read each PATH and say which of the texts it holds and where;\n"
    "              never writes\n"
    "  --restore   turn the Norwegian texts back into English (undoes a patch, whole\n"
    "              or in part)\n"
    "  --json      report each PATH as one line of JSON: path, outcome, state,\n"
    "              restorable, offsets, message, error\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "  --          take every later argument as a PATH\n"
    "\n"
    "Every PATH is tried, in order. The exit status is the highest of all PATHs:\n"
    "  0   every PATH was patched (with --check: would be patched; with --restore:\n"
    "      was restored)\n"
    "  1   some PATH was not applicable: already patched, not patched (--restore),\n"
    "      or not an Ombrix 2000 executable\n"
    "  2   some PATH was invalid: missing, a folder, or not readable\n"
    "  3   an error stopped a run, and that file was left unchanged (with --check:\n"
    "      this user could not update it)\n"
    "  4   an error stopped a run part way, and that file may be partly patched:\n"
    "      'ombrix-patch-cli --restore PATH' makes it whole again\n"
    "  64  the command line was wrong\n"
    "  74  a report could not be written (standard output closed or full); the PATHs\n"
    "      after it were not tried\n";

// The console's own sentences for a restore, after the window's pattern.
constexpr std::string_view kRestoreCompleted = "Restore is complete!";
constexpr std::string_view kRestoreNotApplicable =
    "Can not restore now.  Program has not been updated or File Path is invalid.";

enum class Mode { kPatch, kCheck, kRestore };

struct CommandLine {
  Mode mode = Mode::kPatch;
  bool json = false;
  std::vector<std::filesystem::path> targets;
};

// The report of one target.
struct Report {
  int status = kCliAllDone;
  std::string sentence;      // what happened, in the window's words
  std::string_view outcome;  // the same in one word, for JSON
  // What the file holds afterwards, where it was read to tell: its state and where its texts
  // lie.
  std::optional<TargetCheck> check = {};
  bool error = false;  // `sentence` is the error that stopped the run (or would stop it)
};

int Usage(std::ostream& err, std::string_view problem) {
  err << kProgram << ": " << problem << "\n" << kUsage << "Try '" << kProgram << " --help'.\n";
  return kCliUsage;
}

Report InvalidPath() {
  return {kCliInvalidPath, std::string(kInvalidPathMessage.text), "invalid_path"};
}

Report ReportOutcome(PatchOutcome outcome, Mode mode) {
  const bool restore = mode == Mode::kRestore;
  switch (outcome) {
    case PatchOutcome::InvalidPath:
      return InvalidPath();
    case PatchOutcome::NotApplicable:
      return {kCliNotApplicable,
              std::string(restore ? kRestoreNotApplicable : kNotApplicableMessage.text),
              "not_applicable"};
    case PatchOutcome::Completed:
      break;
  }
  return {kCliAllDone, std::string(restore ? kRestoreCompleted : kCompletedMessage.text),
          "completed"};
}

std::string_view StateName(TargetKind kind) {
  switch (kind) {
    case TargetKind::kUnpatched:
      return "unpatched";
    case TargetKind::kPatched:
      return "patched";
    case TargetKind::kPartlyPatched:
      return "partly_patched";
    case TargetKind::kNotExpected:
      return "not_expected";
    case TargetKind::kNotATarget:
      return "not_a_target";
  }
  return "unknown";
}

// What a check found, in words that say what a run would do with the file.
std::string Verdict(const TargetCheck& check) {
  const auto text = [](std::size_t pair) { return "text " + std::to_string(pair + 1); };
  std::string why;
  if (check.missing) {
    why = text(*check.missing) + " is missing, in English and in Norwegian";
  } else if (check.overlapped) {
    why = "English " + text(*check.overlapped) + " lies across " + text(*check.overlapped_by) +
          ", so an update cannot replace both";
  }
  switch (check.kind) {
    case TargetKind::kUnpatched:
      return "unpatched (an update would complete)";
    case TargetKind::kPatched:
      return "patched";
    case TargetKind::kPartlyPatched:
      if (check.restorable) {
        return "partly patched; '" + std::string(kProgram) +
               " --restore' makes it whole again, then it can be patched";
      }
      return "partly patched, and neither an update nor --restore can complete" +
             (why.empty() ? "" : ": " + why);
    case TargetKind::kNotExpected:
      return "not the expected program: " + why;
    case TargetKind::kNotATarget:
      return "not a target (none of the texts)";
  }
  return "unknown";
}

// A text of the table without the blanks around it: "Work with Submitted Jobs".
std::string_view Words(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Found(std::string_view language, std::string_view text,
                  const std::optional<std::uint64_t>& offset) {
  std::string line = std::string(language) + " \"" + std::string(Words(text)) + "\" ";
  return line + (offset ? "at byte " + std::to_string(*offset) : "not found");
}

// A check's report. Where this user's run would meet an error before writing, the verdict says
// so, and an update that would otherwise complete counts as an error.
Report ReportCheck(const TargetCheck& check) {
  Report report{check.kind == TargetKind::kUnpatched ? kCliAllDone : kCliNotApplicable,
                Verdict(check), "checked", check};
  if (check.blocked) {
    report.sentence += "; but this user could not change it: " + RunErrorReason(*check.blocked);
    report.error = true;
    if (check.kind == TargetKind::kUnpatched) report.status = kCliRunError;
  }
  return report;
}

// After a run, for a JSON report: the file read again to tell its state, which a run cannot
// know (a second English text may remain, or the file may not be the program at all). A failure
// of that reading leaves the state unknown and the run's outcome as it was.
void AddState(const std::filesystem::path& path, const RunSettings& settings, Report& report) {
  try {
    report.check = CheckTarget(path, settings);
  } catch (const std::exception&) {
    report.check.reset();
  }
}

Report Handle(const std::filesystem::path& typed, Mode mode, bool json, FileSystem& files) {
  const std::filesystem::path path = TargetPath(typed);
  const RunSettings settings{&files};
  Report report;
  try {
    if (mode == Mode::kCheck) {
      const std::optional<TargetCheck> check = CheckTarget(path, settings);
      return check ? ReportCheck(*check) : InvalidPath();
    }
    const auto direction =
        mode == Mode::kRestore ? PatchDirection::kRestore : PatchDirection::kApply;
    report = ReportOutcome(RunPatch(path, direction, settings), mode);
  } catch (const PatchError& error) {
    // What the file holds now is read again: a run stopped part way says whether --restore
    // would make it whole, and the JSON report has its state.
    const bool partly = error.target() == TargetState::kMayBeDamaged;
    report = {partly ? kCliPartlyPatched : kCliRunError, "", "error", std::nullopt, true};
    AddState(path, settings, report);
    report.sentence = RunErrorSentence(
        error, report.check ? std::optional<bool>(report.check->restorable) : std::nullopt);
    return report;
  } catch (const std::exception& error) {
    return {kCliRunError, RunErrorSentence(error), "error", std::nullopt, true};
  }
  if (json && report.status != kCliInvalidPath) AddState(path, settings, report);
  return report;
}

// The plain report: the sentence, and under a check's verdict where each text lies.
std::string PlainReport(const std::filesystem::path& target, const Report& report) {
  std::string text = TerminalText(Utf8(target)) + ": " + report.sentence;
  if (report.outcome == "checked") {
    for (std::size_t i = 0; i < report.check->pairs.size(); ++i) {
      const PairFound& found = report.check->pairs[i];
      text += "\n  " + std::to_string(i + 1) + ". " +
              Found("English", PatchTable[i].english, found.english) + "; " +
              Found("Norwegian", PatchTable[i].norwegian, found.norwegian);
    }
  }
  return text;
}

std::string JsonOffset(const std::optional<std::uint64_t>& offset) {
  return offset ? std::to_string(*offset) : "null";
}

// The report as one line of JSON; what is not known is null.
std::string JsonReport(const std::filesystem::path& target, const Report& report) {
  std::string json =
      "{\"path\":" + JsonString(Utf8(target)) + ",\"outcome\":" + JsonString(report.outcome) +
      ",\"state\":" + (report.check ? JsonString(StateName(report.check->kind)) : "null");
  json += ",\"restorable\":";
  json += report.check ? (report.check->restorable ? "true" : "false") : "null";
  json += ",\"offsets\":";
  if (report.check) {
    const char* separator = "[";
    for (const PairFound& found : report.check->pairs) {
      json += separator;
      json += "{\"english\":" + JsonOffset(found.english) +
              ",\"norwegian\":" + JsonOffset(found.norwegian) + "}";
      separator = ",";
    }
    json += "]";
  } else {
    json += "null";
  }
  json += ",\"message\":" + JsonString(report.sentence);
  json += ",\"error\":" + (report.error ? JsonString(report.sentence) : "null") + "}";
  return json;
}

}  // namespace

int RunConsoleProgram(const std::vector<std::filesystem::path>& arguments, std::ostream& out,
                      std::ostream& err, FileSystem& files) {
  CommandLine command;
  bool options_end = false;
  std::optional<Mode> chosen;
  for (const std::filesystem::path& argument : arguments) {
    const std::string text = Utf8(argument);
    if (options_end || text.empty() || text[0] != '-' || text == "-") {
      command.targets.push_back(argument);
    } else if (text == "--") {
      options_end = true;
    } else if (text == "--help") {
      out << kUsage << kHelp << TargetPathHelp();
      return kCliAllDone;
    } else if (text == "--version") {
      out << kProgram << " " << OMBRIX_VERSION_TEXT << "\n";
      return kCliAllDone;
    } else if (text == "--json") {
      command.json = true;
    } else if (text == "--check" || text == "--restore") {
      const Mode mode = text == "--check" ? Mode::kCheck : Mode::kRestore;
      if (chosen && *chosen != mode) return Usage(err, "--check and --restore exclude each other");
      chosen = mode;
    } else {
      return Usage(err, "unknown option '" + text + "'");
    }
  }
  if (command.targets.empty()) return Usage(err, "no PATH given");
  command.mode = chosen.value_or(Mode::kPatch);

  int status = kCliAllDone;
  for (const std::filesystem::path& target : command.targets) {
    const Report report = Handle(target, command.mode, command.json, files);
    out << (command.json ? JsonReport(target, report) : PlainReport(target, report)) << "\n"
        << std::flush;
    if (!out) return kCliReportLost;  // told to no one: the next run's report would be lost too
    status = std::max(status, report.status);
  }
  return status;
}

}  // namespace ombrix
