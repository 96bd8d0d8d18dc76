// What the Update command and the start-up guard need of the window and of the platform
// around it. Each front end implements it once; the commands never touch a toolkit.
#ifndef OMBRIX_UI_FORM_H_
#define OMBRIX_UI_FORM_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace ombrix {

// The program's exit codes: after a completed patch, after a second copy's refusal to start,
// and after an error that ended a run.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitRefused = 0;
inline constexpr int kExitError = 1;

class Form {
 public:
  virtual ~Form() = default;

  // The text of txtFilePath as the path to patch, exactly as typed (on Linux, a Windows path
  // is first looked up in the Wine prefix).
  virtual std::filesystem::path FilePath() = 0;
  virtual void SetWaitVisible(bool visible) = 0;  // lblWait
  // Processes the window events that are pending, once, repainting what needs it.
  virtual void ProcessPendingEvents() = 0;
  // Shows a modal message box with one OK button and no icon, owned by the window while it is
  // loaded; returns when the user dismissed it. Texts are UTF-8.
  virtual void ShowMessage(std::string_view text, std::string_view title) = 0;
  virtual void Beep() = 0;

  virtual std::string Title() = 0;
  virtual void SetTitle(std::string_view title) = 0;
  // Destroys the window; it is never shown again.
  virtual void Unload() = 0;
  // Ends the program at once with `exit_code`; no further event of the window runs. The real
  // front ends do not return from it.
  virtual void EndProgram(int exit_code) = 0;

  // Claims `title` for this copy of the tool until the program ends, in one step that no other
  // copy can interleave with; false when another running copy holds it. Where no claim can be
  // made at all, says so on standard error and answers true: the tool then starts unguarded.
  virtual bool ClaimTitle(std::string_view title) = 0;
  // Whether a top-level window whose title is exactly `title` exists (in any process).
  virtual bool TopLevelWindowExists(std::string_view title) = 0;
};

}  // namespace ombrix

#endif  // OMBRIX_UI_FORM_H_
