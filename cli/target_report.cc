#include "cli/target_report.h"

#include <array>
#include <exception>

#include "cli/exit_status.h"
#include "engine/run/patch_run.h"
#include "engine/run/target_file.h"
#include "frontend/form_texts.h"
#include "frontend/run_words.h"

namespace ombrix {
namespace {

struct ResultText {
  std::string_view name;
  std::string_view words;
  int status;
};

// Indexed by Result.
constexpr std::array<ResultText, 10> kResults = {{
    {"patched", "patched", kCliAsWanted},
    {"already_patched", "already patched", kCliAsWanted},
    {"restored", "restored", kCliAsWanted},
    {"already_english", "already English", kCliAsWanted},
    {"would_patch", "would be patched", kCliWouldChange},
    {"would_restore", "would be restored", kCliWouldChange},
    {"invalid_path", "invalid path", kCliInvalidPath},
    {"not_expected", "not the expected program", kCliNotExpected},
    {"error", "error", kCliRunError},
    {"partly_patched", "partly patched", kCliPartlyPatched},
}};

constexpr std::string_view kNothingToDo = "nothing to do";
constexpr std::string_view kRestoreCompleted = "Restore is complete!";

TargetReport Make(Result result, std::string_view outcome, const std::string& words) {
  return {result, std::string(ResultWords(result)) + (words.empty() ? "" : ": " + words), outcome,
          std::nullopt};
}

// Why a patch would not complete on a file that holds some of the texts.
std::string WhyNotExpected(const TargetCheck& check) {
  const auto text = [](std::size_t pair) { return "text " + std::to_string(pair + 1); };
  if (check.kind == TargetKind::kNotATarget) return "none of the texts is there";
  if (check.missing) return text(*check.missing) + " is missing, in English and in Norwegian";
  if (check.overlapped) {
    return "English " + text(*check.overlapped) + " lies across " + text(*check.overlapped_by) +
           ", so an update cannot replace both";
  }
  return "its texts are not where an update or a restore can complete";
}

std::string PartlyPatched(const TargetCheck& check) {
  if (check.restorable) {
    return "some texts are Norwegian and some English; 'ombrix-patch-cli --restore' makes it "
           "whole again, then it can be patched";
  }
  return "some texts are Norwegian and some English, and neither an update nor --restore can "
         "complete (" +
         WhyNotExpected(check) + "): restore it from a copy";
}

// What a file that a run would change or just left alone is, judged against the wanted state.
TargetReport Judge(const TargetCheck& check, const Task& task) {
  const std::string_view outcome = task.check ? "checked" : "not_applicable";
  const bool would_change = task.restore ? check.restorable : check.kind == TargetKind::kUnpatched;
  if (would_change && !task.check) {
    // The run found nothing to change, and the file read again has it: another program
    // changed the file in between.
    return Make(Result::kError, "error",
                "another program changed the file while this run read it. This run changed "
                "nothing; what the other program did stands.");
  }
  if (would_change && check.blocked) {
    return Make(Result::kError, outcome,
                std::string(task.restore ? "a run would restore it" : "a run would patch it") +
                    ", but this user could not change it: " + FailureReason(check.blocked));
  }
  if (would_change) {
    return task.restore
               ? Make(Result::kWouldRestore, outcome, "it holds Norwegian texts to turn back")
               : Make(Result::kWouldPatch, outcome, "it holds the three English texts");
  }
  if (!task.restore && check.kind == TargetKind::kPatched) {
    return Make(Result::kAlreadyPatched, outcome, std::string(kNothingToDo));
  }
  if (task.restore && check.kind == TargetKind::kUnpatched) {
    return Make(Result::kAlreadyEnglish, outcome, std::string(kNothingToDo));
  }
  if (check.kind == TargetKind::kPartlyPatched) {
    return Make(Result::kPartlyPatched, outcome, PartlyPatched(check));
  }
  return Make(Result::kNotExpected, outcome, WhyNotExpected(check));
}

TargetReport InvalidPath(const std::filesystem::path& path, FileSystem& files) {
  const std::error_code reason = WhyNotATarget(files, path);
  return Make(Result::kInvalidPath, "invalid_path",
              reason ? ReasonText(reason) : "it did not open as a regular file");
}

// Reads what the file holds now, for the report; unknown where that reading fails.
std::optional<TargetCheck> ReadState(const std::filesystem::path& path, FileSystem& files) {
  try {
    return CheckTarget(path, {&files});
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

TargetReport Run(const std::filesystem::path& path, const Task& task, FileSystem& files) {
  const PatchDirection direction = task.restore ? PatchDirection::kRestore : PatchDirection::kApply;
  Written written;
  switch (RunPatch(path, direction, {&files}, written)) {
    case PatchOutcome::InvalidPath:
      return InvalidPath(path, files);
    case PatchOutcome::NotApplicable:
      break;
    case PatchOutcome::Completed: {
      const Result result = task.restore ? Result::kRestored : Result::kPatched;
      std::string words(task.restore ? kRestoreCompleted : kCompletedMessage.text);
      if (written.way == WriteWay::kInPlace) {
        words.append(" (").append(ResultWords(result)).append(" in place: ");
        words.append(InPlaceReasonWords(written)).append(")");
      }
      TargetReport report = Make(result, "completed", words);
      if (task.json) report.check = ReadState(path, files);
      return report;
    }
  }
  // Nothing was written: the file read again says whether it already is as wanted, and else why.
  const std::optional<TargetCheck> check = CheckTarget(path, {&files});
  if (!check) return InvalidPath(path, files);
  TargetReport report = Judge(*check, task);
  report.check = check;
  return report;
}

}  // namespace

TargetReport ReportTarget(const std::filesystem::path& path, const Task& task, FileSystem& files) {
  try {
    if (!task.check) return Run(path, task, files);
    const std::optional<TargetCheck> check = CheckTarget(path, {&files});
    if (!check) return InvalidPath(path, files);
    TargetReport report = Judge(*check, task);
    report.check = check;
    return report;
  } catch (const PatchError& error) {
    // What the file holds now is read again: a run stopped part way says whether --restore
    // would make it whole, and the JSON report has its state.
    const bool partly = error.target() == TargetState::kMayBeDamaged;
    const std::optional<TargetCheck> check = ReadState(path, files);
    TargetReport report = Make(
        partly ? Result::kPartlyPatched : Result::kError, "error",
        RunErrorSentence(error, check ? std::optional<bool>(check->restorable) : std::nullopt));
    report.check = check;
    return report;
  } catch (const std::exception& error) {
    return Make(Result::kError, "error", RunErrorSentence(error));
  }
}

int StatusOf(Result result) { return kResults[static_cast<std::size_t>(result)].status; }
std::string_view ResultName(Result result) {
  return kResults[static_cast<std::size_t>(result)].name;
}
std::string_view ResultWords(Result result) {
  return kResults[static_cast<std::size_t>(result)].words;
}

}  // namespace ombrix
