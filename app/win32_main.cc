// The Windows program's entry: creates frmMain, runs the start-up guard while the window is
// still hidden, then shows the window and runs its message loop.
#include "ui/startup_guard.h"
#include "ui/win32/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int show_command) {
  ombrix::win32::MainWindow frmMain(instance);
  ombrix::Form_Load(frmMain);
  frmMain.Show(show_command);
  return frmMain.RunMessageLoop();
}
