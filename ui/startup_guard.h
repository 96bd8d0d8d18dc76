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

// Runs while the window is loaded and before it is shown. When a window with the marked title
// exists, unloads the window, beeps and shows the refusal, then ends the program once the
// refusal is dismissed; otherwise gives the window the marked title.
void Form_Load(Form& form);

}  // namespace ombrix

#endif  // OMBRIX_UI_STARTUP_GUARD_H_
