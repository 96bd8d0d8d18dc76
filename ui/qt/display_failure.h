// What the Linux program says when its window system cannot be started: one true sentence and
// exit status 1, in place of Qt's abort and its advice to reinstall.
#ifndef OMBRIX_UI_QT_DISPLAY_FAILURE_H_
#define OMBRIX_UI_QT_DISPLAY_FAILURE_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::qt {

// The sentence for Qt's platforms `platforms` (as in QT_QPA_PLATFORM: "xcb;wayland") that
// could not be started: which displays they name (from `environment`), that none of them can
// be reached, and what to check; and which of them Qt has no plugin for (`missing_plugins`).
std::string NoDisplaySentence(std::string_view platforms,
                              const std::vector<std::string>& missing_plugins,
                              const std::function<const char*(const char*)>& environment);

// While it lives (around the creation of the QApplication), a window system that cannot be
// started ends the program with NoDisplaySentence on standard error and status 1. Qt's other
// messages meanwhile are held back, and passed on when it ends.
class DisplayFailureExit {
 public:
  DisplayFailureExit();
  ~DisplayFailureExit();
  DisplayFailureExit(const DisplayFailureExit&) = delete;
  DisplayFailureExit& operator=(const DisplayFailureExit&) = delete;
};

}  // namespace ombrix::qt

#endif  // OMBRIX_UI_QT_DISPLAY_FAILURE_H_
