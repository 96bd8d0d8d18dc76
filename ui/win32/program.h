// The Windows program from its entry on: frmMain made, the start-up guard, the message loop,
// and what becomes of an error that keeps the window from being made.
#ifndef OMBRIX_UI_WIN32_PROGRAM_H_
#define OMBRIX_UI_WIN32_PROGRAM_H_

#include <functional>
#include <memory>

#include "ui/win32/main_window.h"

namespace ombrix::win32 {

// Makes frmMain with `make`, runs the start-up guard, shows the window and runs its message
// loop; returns the program's exit code. An error that escapes (Windows refusing to make the
// window) is reported in a message box, as the errors of a run are, and the program ends with
// kExitError.
int RunProgram(const std::function<std::unique_ptr<MainWindow>()>& make, int show_command);

}  // namespace ombrix::win32

#endif  // OMBRIX_UI_WIN32_PROGRAM_H_
