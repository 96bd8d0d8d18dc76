#include "ui/update_command.h"

#include "engine/run/patch_run.h"
#include "frontend/run_words.h"
#include "ui/form_design.h"

namespace ombrix {
namespace {

// Clears the running flag however the press ends.
class RunningScope {
 public:
  explicit RunningScope(bool& running) : running_(running) { running_ = true; }
  ~RunningScope() { running_ = false; }
  RunningScope(const RunningScope&) = delete;
  RunningScope& operator=(const RunningScope&) = delete;

 private:
  bool& running_;
};

}  // namespace

void UpdateCommand::cmdUpdate_Click() {
  if (running_) return;
  const RunningScope running(running_);

  form_.SetWaitVisible(true);
  form_.ProcessPendingEvents();
  const std::filesystem::path path = form_.FilePath();
  PatchOutcome outcome;
  try {
    outcome = RunPatch(path, PatchDirection::kApply, {&files_});
  } catch (const std::exception& error) {
    form_.ShowMessage(DescribeRunError(path, error), kErrorTitle);
    form_.EndProgram(kExitError);
    return;
  }

  switch (outcome) {
    case PatchOutcome::InvalidPath:
      form_.SetWaitVisible(false);
      form_.ShowMessage(kInvalidPathMessage.text, kInvalidPathMessage.title);
      break;
    case PatchOutcome::NotApplicable:
      form_.ShowMessage(kNotApplicableMessage.text, kNotApplicableMessage.title);
      form_.SetWaitVisible(false);
      break;
    case PatchOutcome::Completed:
      form_.ShowMessage(kCompletedMessage.text, kCompletedMessage.title);
      form_.EndProgram(kExitCompleted);
      break;
  }
}

}  // namespace ombrix
