// frmMain on Linux: the tool's one window, built with Qt Widgets from the form's design, and
// the Form through which the Update command and the start-up guard work it.
#ifndef OMBRIX_UI_QT_MAIN_WINDOW_H_
#define OMBRIX_UI_QT_MAIN_WINDOW_H_

#include <QWidget>
#include <array>
#include <memory>

#include "ui/form.h"
#include "ui/form_design.h"
#include "ui/qt/window_titles.h"
#include "ui/update_command.h"

namespace ombrix::qt {

class MainWindow : public QWidget, public Form {
 public:
  // Builds the window and its controls, hidden, at the screen's logical DPI. Looks windows up
  // by title through `titles`; patches through `files`.
  explicit MainWindow(std::unique_ptr<WindowTitles> titles = WindowTitlesOfThisSession(),
                      FileSystem& files = RealFileSystem());
  ~MainWindow() override;

  // Shows the window, centred on the screen, with the keyboard focus in txtFilePath.
  void ShowCentred();

  bool loaded() const { return loaded_; }
  QWidget* control(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }

  // Form: what the start-up guard asks of the window and of the desktop around it.
  std::string Title() override;
  bool ClaimTitle(std::string_view title) override;
  bool TopLevelWindowExists(std::string_view title) override;
  void SetTitle(std::string_view title) override;
  void Unload() override;
  void Beep() override;
  // Form: what the Update command asks of the window, and both ask to end.
  std::filesystem::path FilePath() override;  // a Windows path leads into the Wine prefix
  void SetWaitVisible(bool visible) override;
  void ProcessPendingEvents() override;
  void ShowMessage(std::string_view text, std::string_view title) override;
  void EndProgram(int exit_code) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();

  std::unique_ptr<WindowTitles> titles_;
  std::array<QWidget*, kControls.size()> controls_{};
  bool loaded_ = true;
  UpdateCommand command_;
};

}  // namespace ombrix::qt

#endif  // OMBRIX_UI_QT_MAIN_WINDOW_H_
