// Form_Load: keeps a second copy of the tool from running while the first is open. The window
// of a running copy carries its design title with one blank appended.
#ifndef OMBRIX_UI_STARTUP_GUARD_H_
#define OMBRIX_UI_STARTUP_GUARD_H_

#include <string>
#include <string_view>

#include "ui/form.h"

namespace ombrix {

// The title by which a running copy is recognised: `design_title` followed by one blank.
std::string MarkedTitle(std::string_view design_title);

// The name under which a copy claims `marked_title` from the system (a lock, a selection, a
// named object): "ombrix-patch-" and the title's bytes in hexadecimal, so that any title makes
// a valid name everywhere.
std::string ClaimName(std::string_view marked_title);

// Runs while the window is loaded and before it is shown. Claims the marked title for this
// copy, in one step that no copy started at the same instant can share, and looks for a window
// that bears it. When the claim is held by another copy or such a window exists, unloads the
// window, beeps and shows the refusal, then ends the program once the refusal is dismissed;
// otherwise gives the window the marked title and keeps the claim until the program ends.
void Form_Load(Form& form);

}  // namespace ombrix

#endif  // OMBRIX_UI_STARTUP_GUARD_H_
