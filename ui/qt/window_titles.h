// Finding a top-level window by its exact title, as FindWindowA does on Windows, for the
// start-up guard on Linux. On X11 the look-up asks the window manager's client list, or walks
// the window tree where there is none. With no X server at all (Wayland without XWayland) no
// program can see another's windows; a per-user lock named after the title stands in: a copy
// of the tool takes it when it marks its window's title.
#ifndef OMBRIX_UI_QT_WINDOW_TITLES_H_
#define OMBRIX_UI_QT_WINDOW_TITLES_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

namespace ombrix::qt {

class WindowTitles {
 public:
  virtual ~WindowTitles() = default;
  // Whether a top-level window titled exactly `title` (UTF-8) exists.
  virtual bool Exists(std::string_view title) = 0;
  // Tells that this process's window now bears `title`.
  virtual void Claim(std::string_view title) = 0;
};

// The top-level windows of an X server, by their titles: _NET_WM_NAME, else WM_NAME.
class X11WindowTitles : public WindowTitles {
 public:
  // The windows of the display named by $DISPLAY; nullptr when it cannot be reached.
  static std::unique_ptr<X11WindowTitles> Connect();
  ~X11WindowTitles() override;

  bool Exists(std::string_view title) override;
  void Claim(std::string_view /*title*/) override {}  // the title itself is the sign

  // The top-level windows titled exactly `title`: those of _NET_CLIENT_LIST where the window
  // manager keeps one, else the root window's children and, for a window manager that
  // reparents its clients into frames, their children.
  std::vector<std::uint32_t> Find(std::string_view title);

 private:
  struct Connection;
  explicit X11WindowTitles(std::unique_ptr<Connection> connection);
  std::unique_ptr<Connection> connection_;
};

// Titles claimed by copies of the tool of this user, as locks in `folder`.
class LockedWindowTitles : public WindowTitles {
 public:
  explicit LockedWindowTitles(std::filesystem::path folder);
  ~LockedWindowTitles() override;

  bool Exists(std::string_view title) override;
  void Claim(std::string_view title) override;  // held until this object is destroyed

 private:
  std::filesystem::path LockPath(std::string_view title) const;
  std::filesystem::path folder_;
  std::vector<int> held_;
};

// X11 where an X server is reachable, else the locks in $XDG_RUNTIME_DIR (or the temporary
// folder).
std::unique_ptr<WindowTitles> WindowTitlesOfThisSession();

}  // namespace ombrix::qt

#endif  // OMBRIX_UI_QT_WINDOW_TITLES_H_
