// cmdUpdate_Click: a press on "Perform Update" shows "Please Wait...", lets the window repaint
// once, patches the file named in txtFilePath and tells the user the outcome.
#ifndef OMBRIX_UI_UPDATE_COMMAND_H_
#define OMBRIX_UI_UPDATE_COMMAND_H_

#include "engine/platform/file_system.h"
#include "ui/form.h"

namespace ombrix {

class UpdateCommand {
 public:
  // Works `form`, and patches through `files`.
  explicit UpdateCommand(Form& form, FileSystem& files = RealFileSystem())
      : form_(form), files_(files) {}

  // Runs one patch. `InvalidPath` and `NotApplicable` leave the window waiting for another
  // press; `Completed` and an error that escapes the run end the program. A press that
  // arrives while a run is in progress (through its pass of event processing) is ignored.
  void cmdUpdate_Click();

  // Whether a press is being handled; the window refuses to close meanwhile.
  bool running() const { return running_; }

 private:
  Form& form_;
  FileSystem& files_;
  bool running_ = false;
};

}  // namespace ombrix

#endif  // OMBRIX_UI_UPDATE_COMMAND_H_
