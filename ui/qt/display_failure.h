// What the Linux program says when its window system cannot be started: one true sentence and
// exit status 1, in place of Qt's abort and its advice to reinstall.
#ifndef OMBRIX_UI_QT_DISPLAY_FAILURE_H_
#define OMBRIX_UI_QT_DISPLAY_FAILURE_H_

namespace ombrix::qt {

// While it lives (around the creation of the QApplication), a window system that cannot be
// started ends the program with one sentence on standard error and status 1: which displays
// the platforms asked for (QT_QPA_PLATFORM) name, that none of them can be reached, and what to
// check; or which platform plugins are not installed. Qt's other messages meanwhile are held
// back, and passed on when it ends.
class DisplayFailureExit {
 public:
  DisplayFailureExit();
  ~DisplayFailureExit();
  DisplayFailureExit(const DisplayFailureExit&) = delete;
  DisplayFailureExit& operator=(const DisplayFailureExit&) = delete;
};

}  // namespace ombrix::qt

#endif  // OMBRIX_UI_QT_DISPLAY_FAILURE_H_
