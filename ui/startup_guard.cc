#include "ui/startup_guard.h"

#include "ui/form_design.h"

namespace ombrix {

std::string MarkedTitle(std::string_view design_title) { return std::string(design_title) + " "; }

std::string ClaimName(std::string_view marked_title) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string name = "ombrix-patch-";
  for (const char c : marked_title) {
    const auto byte = static_cast<unsigned char>(c);
    name.push_back(kDigits[byte >> 4]);
    name.push_back(kDigits[byte & 0xF]);
  }
  return name;
}

void Form_Load(Form& form) {
  const std::string design_title = form.Title();
  const std::string marked_title = MarkedTitle(design_title);
  // The claim comes first: of two copies started at once, only one can pass it, while neither
  // window is on screen yet. The look-up then finds any other window that bears the title.
  if (form.ClaimTitle(marked_title) && !form.TopLevelWindowExists(marked_title)) {
    form.SetTitle(marked_title);
    return;
  }
  form.Unload();
  form.Beep();
  form.ShowMessage(kRefusalMessage.text, design_title);
  form.EndProgram(kExitRefused);
}

}  // namespace ombrix
