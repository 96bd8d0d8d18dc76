// The Linux program's entry: creates frmMain, runs the start-up guard while the window is
// still hidden, then shows the window and runs the event loop.
#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "engine/platform/interrupt_cleanup.h"
#include "frontend/run_words.h"
#include "ui/form.h"
#include "ui/qt/display_failure.h"
#include "ui/qt/main_window.h"
#include "ui/startup_guard.h"

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Qt's own options that choose the window system (-platform NAME, -display NAME, with one dash
// or two) are put where the rest of the program looks for them too: the start-up guard opens
// the same display, and a failure names the platform that was asked for.
void TakeWindowSystemOptions(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "-platform" || option == "--platform") setenv("QT_QPA_PLATFORM", argv[i + 1], 1);
    if (option == "-display" || option == "--display") setenv("DISPLAY", argv[i + 1], 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  TakeWindowSystemOptions(argc, argv);
  if (!Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
    std::fputs(
        "ombrix-patch: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY "
        "is set).\nStart it from a desktop session.\n",
        stderr);
    return ombrix::kExitError;
  }
  // The platform is named before Qt starts, so that what is said when it cannot start names
  // the right display. Under Wayland, X11 comes first where XWayland runs: the windows of
  // other programs (the Windows program under Wine among them) can be seen only there.
  if (!Set("QT_QPA_PLATFORM")) {
    setenv("QT_QPA_PLATFORM",
           !Set("WAYLAND_DISPLAY") ? "xcb"
           : Set("DISPLAY")        ? "xcb;wayland"
                                   : "wayland",
           1);
  }
  // A file-size limit reached while writing is a write that fails, not a signal that ends the
  // program.
  std::signal(SIGXFSZ, SIG_IGN);
  ombrix::CleanUpOnInterrupt(ombrix::kInterruptedNotUndone);
  std::optional<ombrix::qt::DisplayFailureExit> display_failure(std::in_place);
  QApplication application(argc, argv);
  display_failure.reset();
  ombrix::qt::MainWindow frmMain;
  ombrix::Form_Load(frmMain);  // ends the program when another copy is open
  frmMain.ShowCentred();
  return application.exec();
}
