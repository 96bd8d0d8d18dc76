// Works the real ombrix-patch.exe from outside, as a user would: starts it as a process of its
// own, finds its windows and message boxes, reads and types into its controls, presses its
// button and waits for it to end.
#ifndef OMBRIX_UI_WIN32_TOOL_DRIVER_TEST_H_
#define OMBRIX_UI_WIN32_TOOL_DRIVER_TEST_H_

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace ombrix::test {

using namespace std::chrono_literals;

// How long a test waits for a window or a program, at the most: a machine that installs or
// builds beside the tests can take many seconds to show one; a wait that holds ends at once.
constexpr std::chrono::milliseconds kPatience = 60s;

// Polls `condition` until it holds or `timeout` passes; returns whether it held.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::Sleep(20);
  }
}

std::wstring ClassOf(HWND window);
// The text of a window of another process, asked for with WM_GETTEXT.
std::wstring TextOf(HWND window);
// The window's rectangle in the client coordinates of `parent`.
RECT RectIn(HWND window, HWND parent);
// The child windows of `parent` in z order, which is the tab order.
std::vector<HWND> ChildrenOf(HWND parent);

// A message box of class #32770: its text, its buttons and its icon.
struct MessageBoxView {
  HWND box = nullptr;
  std::wstring title;
  std::wstring text;
  int buttons = 0;
  bool has_icon = false;
};

class ToolProcess {
 public:
  enum class Start { kRunning, kSuspended };
  // Starts the ombrix-patch.exe that sits beside the test program; a suspended one runs once
  // resumed.
  explicit ToolProcess(Start start = Start::kRunning);
  ~ToolProcess();  // ends the process if it still runs
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  DWORD id() const { return info_.dwProcessId; }
  void Resume() const;
  // The visible top-level window of the process titled `title`, waiting for it to appear.
  HWND WaitForWindow(const std::wstring& title,
                     std::chrono::milliseconds timeout = kPatience) const;
  // The first visible message box of the process, waiting for it to appear.
  std::optional<MessageBoxView> WaitForMessageBox(
      std::chrono::milliseconds timeout = kPatience) const;
  // Every visible top-level window of the process.
  std::vector<HWND> VisibleWindows() const;
  // The exit code once the process ended, waiting for it; nothing when it did not end in time.
  std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout = kPatience) const;
  // The control that has the keyboard focus in the process's user-interface thread.
  HWND Focus(HWND any_window_of_it) const;
  // What a test saw of the process when a wait gave up: whether it still runs, and the title
  // and class of each of its visible windows.
  std::string Seen() const;

 private:
  PROCESS_INFORMATION info_{};
};

// Presses OK in a message box.
void Dismiss(const MessageBoxView& box);
// Presses a button the way a click does, without waiting for what the press does.
void Press(HWND button);
// Replaces the text of an edit control; false when it did not show the text in time.
bool Type(HWND edit, const std::wstring& text);

}  // namespace ombrix::test

#endif  // OMBRIX_UI_WIN32_TOOL_DRIVER_TEST_H_
