// The Windows program when Windows refuses to make its window.
#include "ui/win32/program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

namespace ombrix::win32 {
namespace {

// Finds the message box that this process shows, notes its text and presses OK.
class BoxDismisser {
 public:
  BoxDismisser()
      : thread_([this] {
          for (int attempt = 0; attempt < 750 && !done_; ++attempt) {
            ::EnumWindows(&Visit, reinterpret_cast<LPARAM>(this));
            ::Sleep(20);
          }
        }) {}
  ~BoxDismisser() { Stop(); }
  // The text of the box it dismissed; empty when none appeared.
  std::wstring text() {
    Stop();
    return text_;
  }

 private:
  void Stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }

  static BOOL CALLBACK Visit(HWND window, LPARAM self_pointer) {
    auto* self = reinterpret_cast<BoxDismisser*>(self_pointer);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t type[16] = {};
    ::GetClassNameW(window, type, 16);
    if (process != ::GetCurrentProcessId() || std::wstring(type) != L"#32770" ||
        !::IsWindowVisible(window)) {
      return TRUE;
    }
    wchar_t text[512] = {};
    ::SendMessageW(::GetDlgItem(window, 0xFFFF), WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    self->text_ = text;
    ::PostMessageW(window, WM_COMMAND, IDOK, 0);
    self->done_ = true;
    return FALSE;
  }

  std::atomic<bool> done_{false};
  std::wstring text_;
  std::thread thread_;
};

TEST(ProgramTest, WindowThatCannotBeMadeIsReportedAndEndsTheProgram) {
  BoxDismisser dismisser;
  const int exit_code = RunProgram(
      []() -> std::unique_ptr<MainWindow> {
        throw std::system_error(ERROR_NOT_ENOUGH_MEMORY, std::system_category(), "CreateWindowExW");
      },
      SW_SHOWNORMAL);
  EXPECT_EQ(exit_code, kExitError);
  const std::wstring text = dismisser.text();
  EXPECT_THAT(text, ::testing::HasSubstr(L"could not open its window"));
  EXPECT_THAT(text, ::testing::HasSubstr(L"CreateWindowExW"));
}

}  // namespace
}  // namespace ombrix::win32
