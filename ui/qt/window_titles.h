// The start-up guard's view of the desktop on Linux: a claim of the marked title that only one
// copy of the tool can hold, and a look-up of top-level windows by their exact title, as
// FindWindowA does on Windows. Every copy claims the title by a lock in folders of the user's
// own; where the tool's window is an X11 window, it also takes an X selection, and the look-up
// asks the window manager's client list and walks the window tree. On Wayland and every other
// platform no program can see another's windows: the locks alone decide.
#ifndef OMBRIX_UI_QT_WINDOW_TITLES_H_
#define OMBRIX_UI_QT_WINDOW_TITLES_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/claim_files.h"

namespace ombrix::qt {

class WindowTitles {
 public:
  virtual ~WindowTitles() = default;
  // Claims `title` (UTF-8) for this copy until this object is destroyed or the process ends,
  // in one step no other copy can interleave with; false when another copy holds it. Where no
  // claim can be made, says so on standard error and answers true.
  virtual bool Claim(std::string_view title) = 0;
  // Whether a top-level window titled exactly `title` exists among the windows this copy can
  // see.
  virtual bool Exists(std::string_view title) = 0;
};

// The top-level windows of an X server, by their titles: _NET_WM_NAME, else WM_NAME.
class X11WindowTitles : public WindowTitles {
 public:
  // The windows of the display named by $DISPLAY; nullptr when it cannot be reached.
  static std::unique_ptr<X11WindowTitles> Connect();
  ~X11WindowTitles() override;

  // Owns the selection named ClaimName(title) through a hidden window of this connection,
  // with the server grabbed from the look at its owner to the taking of it. The X server
  // gives the selection up when the connection closes, however the process ends.
  bool Claim(std::string_view title) override;
  bool Exists(std::string_view title) override;

  // The top-level windows titled exactly `title`: those of _NET_CLIENT_LIST where a window
  // manager keeps one, and the root window's children and, for a window manager that
  // reparents its clients into frames, their children.
  std::vector<std::uint32_t> Find(std::string_view title);

 private:
  struct Connection;
  explicit X11WindowTitles(std::unique_ptr<Connection> connection);
  std::unique_ptr<Connection> connection_;
};

// The folders for the locks (LockFolders of this process's environment; the home folder of
// the user's account where HOME is unset), the cache folders made with mode 0700 where they are
// missing. Each is used only while it is the user's own and no one else may enter it, as a
// claim finds it.
std::vector<LockFolder> LockFoldersOfThisUser();

// Titles claimed by copies of the tool of this user, as locks in folders of the user's own.
class LockedWindowTitles : public WindowTitles {
 public:
  // Locks in `folders`; where none can be used, a claim says so on standard error when
  // `say_when_unguarded`, and answers true.
  explicit LockedWindowTitles(std::vector<LockFolder> folders, bool say_when_unguarded = true);
  ~LockedWindowTitles() override;

  // Takes an exclusive lock on a file named after the title in each folder that is the user's
  // own (opened once and checked through its descriptor, so no one can swap it), and holds
  // them until this object is destroyed; the kernel lets them go when the process ends in any
  // way. Each is locked twice: with flock against Linux copies, and with a POSIX lock of its
  // own (an open file description lock) against the Windows program under Wine, whose file
  // locks Wine makes POSIX locks. False, holding none, when another copy holds any of them.
  bool Claim(std::string_view title) override;
  // The windows of other programs cannot be seen: the claim alone decides.
  bool Exists(std::string_view /*title*/) override { return false; }

 private:
  std::vector<LockFolder> folders_;
  bool say_when_unguarded_;
  std::vector<int> held_;
};

// Where the tool's window lives decides: the X server's windows for Qt's X11 platform ("xcb"),
// with the locks in LockFoldersOfThisUser() beside them, so that copies on other platforms of
// the same session (Wayland beside XWayland) see each other; the locks alone for every other
// platform.
std::unique_ptr<WindowTitles> WindowTitlesFor(std::string_view platform_name);
// WindowTitlesFor the platform this application runs on.
std::unique_ptr<WindowTitles> WindowTitlesOfThisSession();

}  // namespace ombrix::qt

#endif  // OMBRIX_UI_QT_WINDOW_TITLES_H_
