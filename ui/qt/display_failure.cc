#include "ui/qt/display_failure.h"

#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/form.h"

namespace ombrix::qt {
namespace {

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted.append(text);
  quoted.push_back('"');
  return quoted;
}

// The display the platform of Qt's named `name` connects to, in words.
std::string DisplayOf(std::string_view name) {
  const auto value = [](const char* variable, const char* otherwise) -> std::string {
    const char* set = std::getenv(variable);
    return set != nullptr && *set != '\0' ? set : otherwise;
  };
  if (name == "xcb") {
    const std::string display = value("DISPLAY", "");
    return display.empty() ? "the X display (DISPLAY is not set)"
                           : std::string("the X display ").append(Quoted(display));
  }
  if (name.substr(0, 7) == "wayland") {
    return std::string("the Wayland display ")
        .append(Quoted(value("WAYLAND_DISPLAY", "wayland-0")));
  }
  return std::string("Qt's platform ").append(Quoted(name));
}

struct HeldMessage {
  QtMsgType type;
  std::string category;
  QString text;
};
std::vector<HeldMessage> held_messages;
QtMessageHandler previous_handler = nullptr;

// The platforms Qt found no plugin for, from what it said while starting.
std::vector<std::string> MissingPlugins() {
  static const QString kMarker = QStringLiteral("Could not find the Qt platform plugin \"");
  std::vector<std::string> missing;
  for (const HeldMessage& held : held_messages) {
    const QString& message = held.text;
    const qsizetype start = message.indexOf(kMarker);
    if (start < 0) continue;
    const qsizetype name = start + kMarker.size();
    missing.push_back(message.mid(name, message.indexOf('"', name) - name).toStdString());
  }
  return missing;
}

// The sentence for Qt's platforms `platforms` ("xcb;wayland") that could not be started, of
// which Qt has no plugin for `missing_plugins`.
std::string NoDisplaySentence(std::string_view platforms,
                              const std::vector<std::string>& missing_plugins) {
  std::vector<std::string> displays;
  for (std::size_t start = 0; start <= platforms.size();) {
    const std::size_t end = std::min(platforms.find(';', start), platforms.size());
    const std::string_view platform = platforms.substr(start, end - start);
    const std::string_view name = platform.substr(0, platform.find(':'));
    if (!name.empty() &&
        std::find(missing_plugins.begin(), missing_plugins.end(), name) == missing_plugins.end()) {
      displays.push_back(DisplayOf(name));
    }
    start = end + 1;
  }
  std::string missing;
  for (const std::string& plugin : missing_plugins) {
    missing += (missing.empty() ? "Qt's platform plugin " : " and ") + Quoted(plugin);
  }
  missing += missing_plugins.size() == 1 ? " is not installed" : " are not installed";
  if (displays.empty()) {
    return "the window cannot open: " + missing +
           " on this machine; install it, or choose another platform with QT_QPA_PLATFORM.";
  }
  std::string which = displays.size() == 1 ? displays[0] : "neither " + displays[0];
  for (std::size_t i = 1; i < displays.size(); ++i) which += " nor " + displays[i];
  return which + (displays.size() == 1 ? " cannot" : " can") + " be reached" +
         (missing_plugins.empty() ? "" : " (and " + missing + ")") +
         ", so the window cannot open; check that the display server runs and that this user "
         "may use it (DISPLAY, WAYLAND_DISPLAY, XAUTHORITY and QT_QPA_PLATFORM say which and "
         "how).";
}

void HoldOrExit(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    held_messages.push_back({type, context.category != nullptr ? context.category : "", message});
    return;
  }
  const char* platforms = std::getenv("QT_QPA_PLATFORM");
  const std::string sentence =
      NoDisplaySentence(platforms != nullptr ? platforms : "xcb", MissingPlugins());
  std::fprintf(stderr, "ombrix-patch: %s\n", sentence.c_str());
  std::fflush(nullptr);
  std::_Exit(kExitError);
}

}  // namespace

DisplayFailureExit::DisplayFailureExit() { previous_handler = qInstallMessageHandler(HoldOrExit); }

DisplayFailureExit::~DisplayFailureExit() {
  qInstallMessageHandler(previous_handler);
  for (const HeldMessage& held : std::exchange(held_messages, {})) {
    // The platform plugins' words are about the choice of a platform, which has succeeded: a
    // platform tried first that could not start is no fault once another did.
    if (held.category.rfind("qt.qpa.", 0) == 0) continue;
    const QByteArray text = held.text.toLocal8Bit();
    switch (held.type) {
      case QtDebugMsg:
        qDebug("%s", text.constData());
        break;
      case QtInfoMsg:
        qInfo("%s", text.constData());
        break;
      case QtWarningMsg:
        qWarning("%s", text.constData());
        break;
      default:
        qCritical("%s", text.constData());
        break;
    }
  }
}

}  // namespace ombrix::qt
