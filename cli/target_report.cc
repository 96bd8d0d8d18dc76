#include "cli/target_report.h"

#include <array>
#include <chrono>
#include <exception>
#include <thread>

#include "cli/exit_status.h"
#include "engine/run/patch_run.h"
#include "engine/run/target_file.h"
#include "frontend/form_texts.h"
#include "frontend/path_text.h"
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
  if (check.restorable && check.blocked) {
    return "some texts are Norwegian and some English; 'ombrix-patch-cli --restore' would make "
           "it whole again, but this user could not change it: " +
           FailureReason(check.blocked);
  }
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
  if (check.undo_record) {
    return Make(Result::kPartlyPatched, outcome,
                "a write in place was cut short (its undo record lies in " +
                    Utf8(*check.undo_record) + "); a run finishes it, and --restore turns it back");
  }
  if (check.torn) {
    // A write in place cut short: what a run or a restore does with it, finished.
    const bool finished = RestoreWouldComplete(check);
    std::string words = "text " + std::to_string(check.torn->pair + 1) +
                        " is part English and part Norwegian at byte " +
                        std::to_string(check.torn->offset) + " (a write in place was cut short)";
    words += finished ? (task.restore ? "; --restore turns it back"
                                      : "; a run finishes the patch, and --restore turns it back")
                      : ", and this run cannot finish it: restore the file from a copy";
    return Make(Result::kPartlyPatched, outcome, words);
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
  if (task.restore && check.ambiguous) {
    const RestoreAmbiguity& places = *check.ambiguous;
    return Make(Result::kNotExpected, outcome,
                "text " + std::to_string(places.pair + 1) + " lies at bytes " +
                    std::to_string(places.first) + " and " + std::to_string(places.second) +
                    ", and a restore cannot tell which of them a patch wrote; it changes "
                    "nothing: restore the file from a copy");
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

// Whether the file is as `task` wants it: patched, or with --restore all English.
bool AsWanted(const TargetCheck& check, const Task& task) {
  return task.restore ? check.kind == TargetKind::kUnpatched && !check.restorable
                      : check.kind == TargetKind::kPatched;
}

// Whether a failure may be another run's doing on the same file: the file changed or was
// replaced (by a copy renamed over it), or it is being written in place.
bool ByAnotherRun(std::error_code error) {
  return error == PatchErrc::kFileChanged || error == PatchErrc::kFileRemoved ||
         error == PatchErrc::kLocked;
}

// How often a run that found the file locked by another looks again, 50 ms apart.
constexpr int kLockedWaits = 40;

TargetReport InvalidPath(const std::filesystem::path& path, FileSystem& files) {
  const std::error_code reason = WhyNotATarget(files, path);
  // A file that another program holds (a lease, a lock, a sharing mode that keeps readers
  // out) is there, only busy: a run that stops on it is an error to try again, not a path to
  // give up on.
  if (reason == std::errc::resource_unavailable_try_again || InUse(reason)) {
    return Make(Result::kError, "invalid_path",
                "Could not open the file for reading, because another program holds it: " +
                    ReasonText(reason) + ". The file was left unchanged.");
  }
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
    std::optional<TargetCheck> check = ReadState(path, files);
    const bool damaged = error.target() == TargetState::kMayBeDamaged;
    if (!task.check && !damaged && ByAnotherRun(error.code())) {
      // Runs on one file at once: another one may have made it as wanted meanwhile, or be
      // writing it in place still (it holds the lock for milliseconds).
      for (int wait = 0; error.code() == PatchErrc::kLocked && check && !AsWanted(*check, task) &&
                         wait < kLockedWaits;
           ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        check = ReadState(path, files);
      }
      if (check && AsWanted(*check, task)) {
        TargetReport report =
            Make(task.restore ? Result::kAlreadyEnglish : Result::kAlreadyPatched, "error",
                 std::string(task.restore ? "another run restored it" : "another run patched it") +
                     " while this one worked; this one changed nothing");
        report.check = check;
        return report;
      }
    }
    // Left so by this run, or found so (a write in place cut short that this run could not
    // finish either).
    const bool partly = damaged || (check && check->kind == TargetKind::kPartlyPatched);
    TargetReport report =
        Make(partly ? Result::kPartlyPatched : Result::kError, "error",
             RunErrorSentence(
                 error, check ? std::optional<bool>(RestoreWouldComplete(*check)) : std::nullopt));
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
