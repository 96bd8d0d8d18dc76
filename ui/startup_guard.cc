#include "ui/startup_guard.h"

#include "ui/form_design.h"

namespace ombrix {

std::string MarkedTitle(std::string_view design_title) { return std::string(design_title) + " "; }

void Form_Load(Form& form) {
  const std::string design_title = form.Title();
  const std::string marked_title = MarkedTitle(design_title);
  if (!form.TopLevelWindowExists(marked_title)) {
    form.SetTitle(marked_title);
    return;
  }
  form.Unload();
  form.Beep();
  form.ShowMessage(kRefusalMessage.text, design_title);
  form.EndProgram(kExitRefused);
}

}  // namespace ombrix
