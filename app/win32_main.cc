// The Windows program's entry: creates frmMain, runs the start-up guard while the window is
// still hidden, then shows the window and runs its message loop.
#include "ui/win32/program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int show_command) {
  return ombrix::win32::RunProgram(
      [instance] { return std::make_unique<ombrix::win32::MainWindow>(instance); }, show_command);
}
