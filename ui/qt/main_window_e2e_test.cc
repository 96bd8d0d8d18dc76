// The real ombrix-patch on the X server of $DISPLAY, started as its own process and looked at
// from outside, once with no window manager and once under a reparenting one (openbox).
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/testing/test_files.h"
#include "ui/form.h"
#include "ui/form_design.h"
#include "ui/qt/window_titles.h"

extern char** environ;

namespace ombrix::qt {
namespace {

using namespace std::chrono_literals;

// How long a test waits for a window or a program, at the most: a machine that installs or
// builds beside the tests can take many seconds to show one; a wait that holds ends at once.
constexpr std::chrono::milliseconds kPatience = 60s;

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// A program started as a child process; killed when it is still running at the end.
class Child {
 public:
  explicit Child(std::vector<std::string> arguments) {
    std::vector<char*> argv = Argv(arguments);
    if (::posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
  }
  // Starts the program once the pipe `barrier` is closed: closing its writing end releases
  // every child waiting on it at the same instant.
  Child(std::vector<std::string> arguments, const int (&barrier)[2]) {
    std::vector<char*> argv = Argv(arguments);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(barrier[1]);
      char byte = 0;
      while (::read(barrier[0], &byte, 1) > 0) {
      }
      ::execve(argv[0], argv.data(), environ);
      ::_exit(127);
    }
  }
  // Asks a child that still runs to end, then makes it.
  ~Child() {
    if (pid_ <= 0 || exit_code_) return;
    ::kill(pid_, SIGTERM);
    if (!WaitForExit(2s)) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  // The exit code once the child ended; nothing when it did not end in time.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout = kPatience) {
    WaitUntil(
        [&] {
          int status = 0;
          if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
          }
          return exit_code_.has_value();
        },
        timeout);
    return exit_code_;
  }

 private:
  static std::vector<char*> Argv(std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return argv;
  }

  pid_t pid_ = -1;
  std::optional<int> exit_code_;
};

std::string ToolPath() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "ombrix-patch").string();
}

// What the test asks of the X server directly.
class Display {
 public:
  Display() : xcb_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(xcb_) != 0) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(xcb_)).data->root;
  }
  ~Display() { xcb_disconnect(xcb_); }
  bool ok() const { return root_ != 0; }

  xcb_atom_t Atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        xcb_, xcb_intern_atom(xcb_, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
  }

  std::optional<std::uint32_t> Cardinal(xcb_window_t window, const char* property) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        xcb_, xcb_get_property(xcb_, 0, window, Atom(property), XCB_ATOM_ANY, 0, 1), nullptr);
    std::optional<std::uint32_t> value;
    if (reply != nullptr && xcb_get_property_value_length(reply) >= 4) {
      value = *static_cast<std::uint32_t*>(xcb_get_property_value(reply));
    }
    std::free(reply);
    return value;
  }

  // The width and height of the first image of the window's _NET_WM_ICON; nothing without one.
  std::optional<std::pair<std::uint32_t, std::uint32_t>> IconSize(xcb_window_t window) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        xcb_, xcb_get_property(xcb_, 0, window, Atom("_NET_WM_ICON"), XCB_ATOM_CARDINAL, 0, 2),
        nullptr);
    std::optional<std::pair<std::uint32_t, std::uint32_t>> size;
    if (reply != nullptr && xcb_get_property_value_length(reply) >= 8) {
      const auto* values = static_cast<std::uint32_t*>(xcb_get_property_value(reply));
      size.emplace(values[0], values[1]);
    }
    std::free(reply);
    return size;
  }

  // The window's title: _NET_WM_NAME, else WM_NAME.
  std::string Title(xcb_window_t window) {
    for (const xcb_atom_t property : {Atom("_NET_WM_NAME"), xcb_atom_t{XCB_ATOM_WM_NAME}}) {
      xcb_get_property_reply_t* reply = xcb_get_property_reply(
          xcb_, xcb_get_property(xcb_, 0, window, property, XCB_ATOM_ANY, 0, 256), nullptr);
      std::string title;
      if (reply != nullptr) {
        title.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                     static_cast<std::size_t>(xcb_get_property_value_length(reply)));
      }
      std::free(reply);
      if (!title.empty()) return title;
    }
    return {};
  }

  bool Viewable(xcb_window_t window) {
    xcb_get_window_attributes_reply_t* reply =
        xcb_get_window_attributes_reply(xcb_, xcb_get_window_attributes(xcb_, window), nullptr);
    const bool viewable = reply != nullptr && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
  }

  // The windows of the whole tree that carry _NET_WM_PID `pid` and are on screen.
  std::vector<xcb_window_t> ViewableWindowsOf(pid_t pid) {
    std::vector<xcb_window_t> found;
    std::vector<xcb_window_t> pending = {root_};
    while (!pending.empty()) {
      const xcb_window_t window = pending.back();
      pending.pop_back();
      if (Cardinal(window, "_NET_WM_PID") == static_cast<std::uint32_t>(pid) && Viewable(window)) {
        found.push_back(window);
      }
      xcb_query_tree_reply_t* tree =
          xcb_query_tree_reply(xcb_, xcb_query_tree(xcb_, window), nullptr);
      if (tree == nullptr) continue;
      const xcb_window_t* children = xcb_query_tree_children(tree);
      pending.insert(pending.end(), children, children + xcb_query_tree_children_length(tree));
      std::free(tree);
    }
    return found;
  }

  // A plain top-level window of the test's own, titled through WM_NAME.
  xcb_window_t CreateWindow(std::string_view title) {
    const xcb_window_t window = xcb_generate_id(xcb_);
    xcb_create_window(xcb_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_change_property(xcb_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(title.size()), title.data());
    xcb_map_window(xcb_, window);
    xcb_flush(xcb_);
    return window;
  }

  // Leaves a _NET_CLIENT_LIST on the root window that names only a window long gone, as a
  // window manager killed with SIGKILL does; removes it again with `stale` false.
  void SetStaleClientList(bool stale = true) {
    const xcb_window_t gone = xcb_generate_id(xcb_);
    if (stale) {
      xcb_change_property(xcb_, XCB_PROP_MODE_REPLACE, root_, Atom("_NET_CLIENT_LIST"),
                          XCB_ATOM_WINDOW, 32, 1, &gone);
    } else {
      xcb_delete_property(xcb_, root_, Atom("_NET_CLIENT_LIST"));
    }
    xcb_flush(xcb_);
  }

  // Asks a window to close, as its title bar's close button does.
  void Close(xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = Atom("WM_PROTOCOLS");
    event.data.data32[0] = Atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(xcb_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(xcb_);
  }

  // Whether the window a window manager names on the root window still exists.
  bool WindowManagerRuns() {
    const std::optional<std::uint32_t> check = Cardinal(root_, "_NET_SUPPORTING_WM_CHECK");
    if (!check) return false;
    xcb_get_window_attributes_reply_t* reply =
        xcb_get_window_attributes_reply(xcb_, xcb_get_window_attributes(xcb_, *check), nullptr);
    std::free(reply);
    return reply != nullptr;
  }

 private:
  xcb_connection_t* xcb_;
  xcb_window_t root_ = 0;
};

// The per-user locks of the copies a test starts, in folders of the test's own, so that a copy
// of the tool open on this machine does not stop them.
class OwnLockFolders {
 public:
  OwnLockFolders() {
    ::chmod(folder_.path().c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", folder_.path().c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (folder_ / "cache").c_str(), 1);
  }
  ~OwnLockFolders() {
    ::unsetenv("XDG_RUNTIME_DIR");
    ::unsetenv("XDG_CACHE_HOME");
  }
  // Whether a copy of the tool holds a lock in the runtime folder.
  bool Held() const {
    for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
      if (!entry.is_regular_file()) continue;
      const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
      const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
      ::close(fd);
      if (taken) return true;
    }
    return false;
  }

 private:
  test::TempFolder folder_;
};

const std::string kDesignTitle(kWindowDesign.title);
const std::string kMarkedTitle = kDesignTitle + " ";

class QtEndToEndTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests need an X server (xvfb-run)";
    ASSERT_TRUE(display_.ok()) << "cannot reach the X server of $DISPLAY";
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    titles_ = X11WindowTitles::Connect();
    ASSERT_NE(titles_, nullptr);
    if (GetParam()) {
      window_manager_.emplace(std::vector<std::string>{"openbox", "--sm-disable"});
      ASSERT_TRUE(WaitUntil([&] { return display_.WindowManagerRuns(); }))
          << "openbox did not start";
    } else {
      ASSERT_FALSE(display_.WindowManagerRuns()) << "a window manager runs already";
    }
  }
  void TearDown() override {
    window_manager_.reset();
    WaitUntil([&] { return !display_.WindowManagerRuns(); }, 5s);
  }

  // The visible windows of `tool` titled `title`.
  std::vector<std::uint32_t> WindowsTitled(const Child& tool, const std::string& title) {
    std::vector<std::uint32_t> found;
    const std::vector<xcb_window_t> own = display_.ViewableWindowsOf(tool.pid());
    for (const std::uint32_t window : titles_->Find(title)) {
      if (std::find(own.begin(), own.end(), window) != own.end()) found.push_back(window);
    }
    return found;
  }

  // What the test saw of `tool` when a wait gave up: whether it still runs, and the titles of
  // its windows on screen.
  std::string Seen(Child& tool) {
    const std::optional<int> ended = tool.WaitForExit(0ms);
    std::string seen =
        ended ? "the tool ended with status " + std::to_string(*ended) : "the tool runs";
    seen += "; its windows on screen:";
    const std::vector<xcb_window_t> windows = display_.ViewableWindowsOf(tool.pid());
    for (const xcb_window_t window : windows) seen += " \"" + display_.Title(window) + "\"";
    if (windows.empty()) seen += " none";
    return seen + (display_.WindowManagerRuns() ? " (a window manager runs)" : "");
  }

  OwnLockFolders locks_;
  Display display_;
  std::unique_ptr<X11WindowTitles> titles_;
  std::optional<Child> window_manager_;
};

TEST_P(QtEndToEndTest, WindowTitleCarriesTheTrailingBlankAndItsOwnIcon) {
  Child tool({ToolPath()});
  ASSERT_TRUE(WaitUntil([&] { return WindowsTitled(tool, kMarkedTitle).size() == 1; }))
      << Seen(tool);
  EXPECT_TRUE(WindowsTitled(tool, kDesignTitle).empty());
  const auto icon = display_.IconSize(WindowsTitled(tool, kMarkedTitle).front());
  EXPECT_EQ(icon, std::make_pair(std::uint32_t{32}, std::uint32_t{32}));
}

TEST_P(QtEndToEndTest, SecondCopyRefusesWithoutShowingItsWindow) {
  Child first({ToolPath()});
  ASSERT_TRUE(WaitUntil([&] { return WindowsTitled(first, kMarkedTitle).size() == 1; }))
      << Seen(first);

  Child second({ToolPath()});
  // Its only window on screen is the refusal, titled with the design title.
  ASSERT_TRUE(WaitUntil([&] { return WindowsTitled(second, kDesignTitle).size() == 1; }))
      << Seen(second);
  const std::uint32_t refusal = WindowsTitled(second, kDesignTitle).front();
  EXPECT_EQ(display_.ViewableWindowsOf(second.pid()), std::vector<xcb_window_t>{refusal});
  EXPECT_TRUE(WindowsTitled(second, kMarkedTitle).empty());

  display_.Close(refusal);
  EXPECT_EQ(second.WaitForExit(), kExitRefused);
  EXPECT_EQ(WindowsTitled(first, kMarkedTitle).size(), 1u) << "the first copy goes on";
  EXPECT_EQ(first.WaitForExit(200ms), std::nullopt);
}

// Two copies released at the same instant, again and again: one window opens, the other copy
// refuses, whatever the window manager takes to list the first.
TEST_P(QtEndToEndTest, OfCopiesStartedAtTheSameInstantOneOpensItsWindow) {
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int barrier[2];
    ASSERT_EQ(::pipe2(barrier, O_CLOEXEC), 0);
    std::optional<Child> copies[2];
    for (auto& copy : copies) copy.emplace(std::vector<std::string>{ToolPath()}, barrier);
    ::close(barrier[1]);
    ::close(barrier[0]);
    const auto marked = [&](const Child& copy) { return WindowsTitled(copy, kMarkedTitle).size(); };
    const auto refusing = [&](const Child& copy) {
      return WindowsTitled(copy, kDesignTitle).size();
    };
    ASSERT_TRUE(WaitUntil([&] {
      return marked(*copies[0]) + refusing(*copies[0]) > 0 &&
             marked(*copies[1]) + refusing(*copies[1]) > 0;
    })) << "first: "
        << Seen(*copies[0]) << "; second: " << Seen(*copies[1]);
    ASSERT_EQ(marked(*copies[0]) + marked(*copies[1]), 1u);
    Child& refused = marked(*copies[0]) == 1 ? *copies[1] : *copies[0];
    display_.Close(WindowsTitled(refused, kDesignTitle).front());
    EXPECT_EQ(refused.WaitForExit(), kExitRefused);
  }
}

TEST_P(QtEndToEndTest, WindowWithTheUnmarkedTitleDoesNotStopTheTool) {
  display_.CreateWindow(kDesignTitle);
  ASSERT_TRUE(WaitUntil([&] { return titles_->Exists(kDesignTitle); }))
      << "the test's own window was not listed";
  Child tool({ToolPath()});
  EXPECT_TRUE(WaitUntil([&] { return WindowsTitled(tool, kMarkedTitle).size() == 1; }))
      << Seen(tool);
}

// A window manager that died leaves its client list behind, naming none of the windows made
// after it (a window manager that runs writes the list anew).
TEST_P(QtEndToEndTest, ForeignWindowWithTheMarkedTitleIsFoundPastAStaleClientList) {
  display_.SetStaleClientList();
  display_.CreateWindow(kMarkedTitle);
  Child tool({ToolPath()});
  ASSERT_TRUE(WaitUntil([&] { return WindowsTitled(tool, kDesignTitle).size() == 1; }))
      << Seen(tool);
  display_.Close(WindowsTitled(tool, kDesignTitle).front());
  EXPECT_EQ(tool.WaitForExit(), kExitRefused);
  display_.SetStaleClientList(false);
}

TEST_P(QtEndToEndTest, ForeignWindowWithTheMarkedTitleStopsTheTool) {
  display_.CreateWindow(kMarkedTitle);
  ASSERT_TRUE(WaitUntil([&] { return titles_->Exists(kMarkedTitle); }))
      << "the test's own window was not listed";
  Child tool({ToolPath()});
  ASSERT_TRUE(WaitUntil([&] { return WindowsTitled(tool, kDesignTitle).size() == 1; }))
      << Seen(tool);
  display_.Close(WindowsTitled(tool, kDesignTitle).front());
  EXPECT_EQ(tool.WaitForExit(), kExitRefused);
}

// What a program wrote on standard error and its exit status, run through the shell.
std::pair<std::string, int> RunCaptured(const std::string& command) {
  FILE* tool = ::popen((command + " 2>&1").c_str(), "r");
  if (tool == nullptr) return {"", -1};
  std::string output;
  char chunk[256];
  while (std::fgets(chunk, sizeof(chunk), tool) != nullptr) output += chunk;
  const int status = ::pclose(tool);
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
}

TEST(QtProgramTest, WithoutADisplaySaysSoAndEnds) {
  const auto [output, status] =
      RunCaptured("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + ToolPath() + "'");
  EXPECT_EQ(status, kExitError);
  EXPECT_THAT(output, ::testing::HasSubstr("no display to open the window on"));
}

TEST(QtProgramTest, ADisplayThatCannotBeReachedIsNamedAndEndsTheProgram) {
  const auto [x11, x11_status] =
      RunCaptured("env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:150 '" + ToolPath() + "'");
  EXPECT_EQ(x11_status, kExitError);
  EXPECT_THAT(x11, ::testing::HasSubstr("the X display \":150\" cannot be reached"));
  const auto [wayland, wayland_status] =
      RunCaptured("env QT_QPA_PLATFORM='wayland;xcb' WAYLAND_DISPLAY=ombrix-none DISPLAY=:150 '" +
                  ToolPath() + "'");
  EXPECT_EQ(wayland_status, kExitError);
  EXPECT_THAT(wayland, ::testing::ContainsRegex("Wayland display \"ombrix-none\" nor the X "
                                                "display \":150\" can be reached|plugin"));
  for (const std::string& output : std::vector<std::string>{x11, wayland}) {
    EXPECT_THAT(output, ::testing::Not(::testing::HasSubstr("Reinstalling"))) << output;
  }
}

// With the window on a platform whose windows no program can list (here "offscreen", as on
// Wayland), the X server beside it is no guide: the per-user claim decides, against a copy on
// the same platform and against one on X11 alike.
TEST(QtProgramTest, WhereNoWindowListIsSeenTheClaimDecidesAgainstCopiesOnAnyPlatform) {
  for (const char* first_platform : {"offscreen", "xcb"}) {
    SCOPED_TRACE(first_platform);
    OwnLockFolders locks;
    ::setenv("QT_QPA_PLATFORM", first_platform, 1);
    Child first({ToolPath()});
    ASSERT_TRUE(WaitUntil([&] { return locks.Held(); })) << "the first copy holds no claim";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Child second({ToolPath()});
    EXPECT_EQ(second.WaitForExit(1s), std::nullopt) << "the refusal waits to be dismissed";
    ::kill(first.pid(), SIGKILL);
    first.WaitForExit();
    EXPECT_FALSE(locks.Held()) << "the second copy passed the guard";
  }
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, QtEndToEndTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "UnderOpenbox" : "WithoutWindowManager";
                         });

}  // namespace
}  // namespace ombrix::qt
