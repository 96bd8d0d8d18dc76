// frmMain on Windows: the tool's one window, built with the Win32 API from the form's design,
// and the Form through which the Update command and the start-up guard work it.
#ifndef OMBRIX_UI_WIN32_MAIN_WINDOW_H_
#define OMBRIX_UI_WIN32_MAIN_WINDOW_H_

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <array>
#include <memory>

#include "ui/form.h"
#include "ui/form_design.h"
#include "ui/update_command.h"
#include "ui/win32/accessible_name.h"
#include "ui/win32/gdi_object.h"
#include "ui/win32/wine_claims.h"

namespace ombrix::win32 {

class MainWindow : public Form {
 public:
  // Creates the window and its controls, hidden, at the screen's DPI. Throws
  // std::system_error when Windows refuses.
  explicit MainWindow(HINSTANCE instance);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Shows the window, centred on the screen, with the keyboard focus in txtFilePath.
  void Show(int show_command);
  // Runs the window's message loop until the window is closed; returns the exit code.
  int RunMessageLoop();

  bool loaded() const { return hwnd_ != nullptr; }
  HWND hwnd() const { return hwnd_; }
  HWND control(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }

  // Form.
  std::filesystem::path FilePath() override;
  void SetWaitVisible(bool visible) override;
  void ProcessPendingEvents() override;
  void ShowMessage(std::string_view text, std::string_view title) override;
  void Beep() override;
  std::string Title() override;
  void SetTitle(std::string_view title) override;
  void Unload() override;
  [[noreturn]] void EndProgram(int exit_code) override;
  // A mutex named after the title in this session's namespace, held while the window lives.
  bool ClaimTitle(std::string_view title) override;
  bool TopLevelWindowExists(std::string_view title) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommand(WORD id, WORD notification);
  LRESULT OnCtlColorStatic(HDC dc, HWND control);
  void OnActivate(bool active);
  void OnDropFiles(HDROP drop);
  void CreateControls();
  // Dispatches one message, letting the dialog manager handle Tab and Shift+Tab first.
  void Dispatch(MSG& message);

  HINSTANCE instance_;
  int dpi_x_;
  int dpi_y_;
  HWND hwnd_ = nullptr;
  bool shown_ = false;
  HWND focus_ = nullptr;  // the control to give the focus back on activation
  HANDLE claim_ = nullptr;
  std::unique_ptr<WineClaims> linux_claims_;  // under Wine: the Linux copies' lock files
  std::array<HWND, kControls.size()> controls_{};
  std::array<UniqueFont, kControls.size()> fonts_;
  AccessibleName box_name_;
  UpdateCommand command_{*this};
};

}  // namespace ombrix::win32

#endif  // OMBRIX_UI_WIN32_MAIN_WINDOW_H_
