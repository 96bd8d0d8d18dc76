#include "ui/win32/tool_driver_test.h"

#include <filesystem>
#include <stdexcept>

#include "engine/platform/win32_text.h"

namespace ombrix::test {
namespace {

// How long the tool may take to answer a message. A busy machine can keep a starting Wine
// program from answering for many seconds; a tool that is really stuck still fails the test.
constexpr UINT kAnswerMs = 15000;

std::filesystem::path ToolPath() {
  std::wstring self(MAX_PATH, L'\0');
  self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
  return std::filesystem::path(self).parent_path() / L"ombrix-patch.exe";
}

struct Search {
  DWORD process;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM search_address) {
  auto* search = reinterpret_cast<Search*>(search_address);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  if (process == search->process && ::IsWindowVisible(window)) search->found.push_back(window);
  return TRUE;
}

std::wstring TitleOf(HWND window) {
  std::wstring title(512, L'\0');
  title.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, title.data(), static_cast<int>(title.size()))));
  return title;
}

}  // namespace

std::wstring ClassOf(HWND window) {
  std::wstring name(256, L'\0');
  name.resize(static_cast<std::size_t>(
      ::GetClassNameW(window, name.data(), static_cast<int>(name.size()))));
  return name;
}

std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kAnswerMs, &length);
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_NORMAL, kAnswerMs, &copied);
  text.resize(copied);
  return text;
}

RECT RectIn(HWND window, HWND parent) {
  RECT rect;
  ::GetWindowRect(window, &rect);
  ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::vector<HWND> ChildrenOf(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = ::GetWindow(parent, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

ToolProcess::ToolProcess(Start start) {
  std::wstring command_line = L"\"" + ToolPath().wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  const DWORD flags = start == Start::kSuspended ? CREATE_SUSPENDED : 0;
  if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        nullptr, &startup, &info_)) {
    throw std::runtime_error("cannot start ombrix-patch.exe");
  }
}

void ToolProcess::Resume() const { ::ResumeThread(info_.hThread); }

ToolProcess::~ToolProcess() {
  // Asked first to close its windows, as a user would: a process ended from outside while Wine
  // still starts it can keep the test program from ending.
  if (::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
    for (HWND window : VisibleWindows()) ::PostMessageW(window, WM_CLOSE, 0, 0);
    ::PostThreadMessageW(info_.dwThreadId, WM_QUIT, 99, 0);
  }
  if (::WaitForSingleObject(info_.hProcess, 5000) == WAIT_TIMEOUT) {
    ::TerminateProcess(info_.hProcess, 99);
    ::WaitForSingleObject(info_.hProcess, 5000);
  }
  ::CloseHandle(info_.hThread);
  ::CloseHandle(info_.hProcess);
}

std::string ToolProcess::Seen() const {
  DWORD code = 0;
  std::string seen = ::GetExitCodeProcess(info_.hProcess, &code) && code != STILL_ACTIVE
                         ? "the tool ended with status " + std::to_string(code)
                         : "the tool runs";
  seen += "; its visible windows:";
  const std::vector<HWND> windows = VisibleWindows();
  for (HWND window : windows) {
    seen += " \"" + Utf8FromWide(TextOf(window)) + "\" (" + Utf8FromWide(ClassOf(window)) + ")";
  }
  return windows.empty() ? seen + " none" : seen;
}

std::vector<HWND> ToolProcess::VisibleWindows() const {
  Search search{id(), {}};
  ::EnumWindows(&CollectVisible, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND ToolProcess::WaitForWindow(const std::wstring& title,
                                std::chrono::milliseconds timeout) const {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND window : VisibleWindows()) {
          if (TitleOf(window) == title && ClassOf(window) != L"#32770") found = window;
        }
        return found != nullptr;
      },
      timeout);
  return found;
}

std::optional<MessageBoxView> ToolProcess::WaitForMessageBox(
    std::chrono::milliseconds timeout) const {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        for (HWND window : VisibleWindows()) {
          if (ClassOf(window) == L"#32770") box = window;
        }
        return box != nullptr;
      },
      timeout);
  if (box == nullptr) return std::nullopt;
  MessageBoxView view;
  view.box = box;
  view.title = TitleOf(box);
  constexpr int kTextId = 0xFFFF;
  constexpr int kIconId = 1088;
  view.text = TextOf(::GetDlgItem(box, kTextId));
  for (HWND child : ChildrenOf(box)) {
    if (ClassOf(child) == L"Button" && ::IsWindowVisible(child)) ++view.buttons;
  }
  // The icon control is always there; it holds an icon only when the box asked for one.
  DWORD_PTR icon = 0;
  ::SendMessageTimeoutW(::GetDlgItem(box, kIconId), STM_GETICON, 0, 0, SMTO_NORMAL, kAnswerMs,
                        &icon);
  view.has_icon = icon != 0;
  return view;
}

std::optional<DWORD> ToolProcess::WaitForExit(std::chrono::milliseconds timeout) const {
  if (::WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

HWND ToolProcess::Focus(HWND any_window_of_it) const {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  ::GetGUIThreadInfo(::GetWindowThreadProcessId(any_window_of_it, nullptr), &info);
  return info.hwndFocus;
}

void Dismiss(const MessageBoxView& box) { ::PostMessageW(box.box, WM_COMMAND, IDOK, 0); }

void Press(HWND button) { ::PostMessageW(button, BM_CLICK, 0, 0); }

bool Type(HWND edit, const std::wstring& text) {
  // A busy machine can keep the tool from answering for a while; the text counts as typed only
  // once the box shows it.
  return WaitUntil([&] {
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                          kAnswerMs, &ignored);
    return TextOf(edit) == text;
  });
}

}  // namespace ombrix::test
