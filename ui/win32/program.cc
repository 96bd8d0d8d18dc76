#include "ui/win32/program.h"

#include <exception>
#include <string>

#include "engine/platform/win32_text.h"
#include "ui/form_design.h"
#include "ui/startup_guard.h"

namespace ombrix::win32 {

int RunProgram(const std::function<std::unique_ptr<MainWindow>()>& make, int show_command) {
  try {
    const std::unique_ptr<MainWindow> frmMain = make();
    Form_Load(*frmMain);  // ends the program when another copy is open
    frmMain->Show(show_command);
    return frmMain->RunMessageLoop();
  } catch (const std::exception& error) {
    const std::wstring text =
        L"The language patch could not open its window:\n\n" + WideFromUtf8(error.what()) + L".";
    ::MessageBoxW(nullptr, text.c_str(), WideFromUtf8(kErrorTitle).c_str(),
                  MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
    return kExitError;
  }
}

}  // namespace ombrix::win32
