// The choice of where the start-up guard looks: where the tool's own window lives.
#include "ui/qt/window_titles.h"

#include <QGuiApplication>

namespace ombrix::qt {

std::unique_ptr<WindowTitles> WindowTitlesFor(std::string_view platform_name) {
  if (platform_name == "xcb") {
    if (std::unique_ptr<X11WindowTitles> x11 = X11WindowTitles::Connect()) return x11;
  }
  std::string why;
  if (std::optional<std::filesystem::path> folder = PrivateLockFolder(why)) {
    return std::make_unique<LockedWindowTitles>(*folder);
  }
  return LockedWindowTitles::Unguarded(why);
}

std::unique_ptr<WindowTitles> WindowTitlesOfThisSession() {
  return WindowTitlesFor(QGuiApplication::platformName().toStdString());
}

}  // namespace ombrix::qt
