// The start-up guard's view of the desktop on Linux: a claim of the marked title that only one
// copy of the tool can hold, and a look-up of top-level windows by their exact title, as
// FindWindowA does on Windows. Where the tool's window is an X11 window, the claim is an X
// selection and the look-up asks the window manager's client list (or walks the window tree
// where there is none). On Wayland and every other platform no program can see another's
// windows: a lock in a folder of the user's own is the claim, and it alone decides.
#ifndef OMBRIX_UI_QT_WINDOW_TITLES_H_
#define OMBRIX_UI_QT_WINDOW_TITLES_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

  // The top-level windows titled exactly `title`: those of _NET_CLIENT_LIST where the window
  // manager keeps one, else the root window's children and, for a window manager that
  // reparents its clients into frames, their children.
  std::vector<std::uint32_t> Find(std::string_view title);

 private:
  struct Connection;
  explicit X11WindowTitles(std::unique_ptr<Connection> connection);
  std::unique_ptr<Connection> connection_;
};

// Titles claimed by copies of the tool of this user, as locks in a folder of the user's own.
class LockedWindowTitles : public WindowTitles {
 public:
  // Locks in `folder`, which no other user may write to.
  explicit LockedWindowTitles(std::filesystem::path folder);
  // No folder could be found: `why` says so when a claim is asked for.
  static std::unique_ptr<LockedWindowTitles> Unguarded(std::string why);
  ~LockedWindowTitles() override;

  // Takes an exclusive lock on a file named after the title (and this machine), held until
  // this object is destroyed; the kernel lets it go when the process ends in any way.
  bool Claim(std::string_view title) override;
  // The windows of other programs cannot be seen: the claim alone decides.
  bool Exists(std::string_view /*title*/) override { return false; }

 private:
  std::optional<std::filesystem::path> folder_;
  std::string why_unguarded_;
  std::vector<int> held_;
};

// The folder for the locks: $XDG_RUNTIME_DIR where it is this user's own with mode 0700, else
// "ombrix-patch" in the user's cache folder ($XDG_CACHE_HOME, else ~/.cache), made with mode
// 0700 and used only when it is the user's own and no one else may enter it. Nothing, with the
// reason in `why`, when neither will do.
std::optional<std::filesystem::path> PrivateLockFolder(std::string& why);

// Where the tool's window lives decides: the X server's windows for Qt's X11 platform
// ("xcb"), the locks in PrivateLockFolder() for every other one.
std::unique_ptr<WindowTitles> WindowTitlesFor(std::string_view platform_name);
// WindowTitlesFor the platform this application runs on.
std::unique_ptr<WindowTitles> WindowTitlesOfThisSession();

}  // namespace ombrix::qt

#endif  // OMBRIX_UI_QT_WINDOW_TITLES_H_
