#include "ui/update_command.h"

#include "engine/patch_run.h"
#include "ui/form_design.h"

namespace ombrix {
namespace {

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

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

std::string DescribeRunError(const std::filesystem::path& path, const std::exception& error) {
  std::string text = "The update of this file failed:\n" + Utf8(path) + "\n\n";
  const auto* patch_error = dynamic_cast<const PatchError*>(&error);
  if (patch_error != nullptr) {
    text += "Could not " + patch_error->step() + ": " + patch_error->code().message() + ".";
  } else {
    text += error.what();
  }
  text += "\n\n";
  if (patch_error != nullptr && patch_error->target() == TargetState::kMayBeDamaged) {
    text += "The file may be partly changed. Restore it from a copy before you use it.";
  } else {
    text += "The file was left unchanged.";
  }
  return text;
}

void UpdateCommand::cmdUpdate_Click() {
  if (running_) return;
  const RunningScope running(running_);

  form_.SetWaitVisible(true);
  form_.ProcessPendingEvents();
  const std::filesystem::path path = form_.FilePath();
  PatchOutcome outcome;
  try {
    outcome = RunPatch(path);
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
