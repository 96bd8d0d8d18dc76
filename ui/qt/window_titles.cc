// The choice of where the start-up guard looks: where the tool's own window lives.
#include "ui/qt/window_titles.h"

#include <QGuiApplication>

namespace ombrix::qt {
namespace {

// The per-user locks beside the claim and the windows of a window system: a copy on another
// platform of the same session takes only the locks.
class LockedAndWindowTitles : public WindowTitles {
 public:
  LockedAndWindowTitles(std::unique_ptr<WindowTitles> locks, std::unique_ptr<WindowTitles> windows)
      : locks_(std::move(locks)), windows_(std::move(windows)) {}
  bool Claim(std::string_view title) override {
    return locks_->Claim(title) && windows_->Claim(title);
  }
  bool Exists(std::string_view title) override { return windows_->Exists(title); }

 private:
  std::unique_ptr<WindowTitles> locks_;
  std::unique_ptr<WindowTitles> windows_;
};

}  // namespace

std::unique_ptr<WindowTitles> WindowTitlesFor(std::string_view platform_name) {
  if (platform_name == "xcb") {
    if (std::unique_ptr<X11WindowTitles> x11 = X11WindowTitles::Connect()) {
      // Where no lock can be taken, the X server still guards: nothing to say.
      return std::make_unique<LockedAndWindowTitles>(
          std::make_unique<LockedWindowTitles>(LockFoldersOfThisUser(), false), std::move(x11));
    }
  }
  return std::make_unique<LockedWindowTitles>(LockFoldersOfThisUser());
}

std::unique_ptr<WindowTitles> WindowTitlesOfThisSession() {
  return WindowTitlesFor(QGuiApplication::platformName().toStdString());
}

}  // namespace ombrix::qt
