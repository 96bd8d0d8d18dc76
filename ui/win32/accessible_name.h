// A name for assistive technology that one control of frmMain carries, given through the
// system's accessibility layer (dynamic annotation), in place of the name the layer would guess
// from the label before the control in tab order.
#ifndef OMBRIX_UI_WIN32_ACCESSIBLE_NAME_H_
#define OMBRIX_UI_WIN32_ACCESSIBLE_NAME_H_

#include <windows.h>

#include <string>

namespace ombrix::win32 {

class AccessibleName {
 public:
  AccessibleName() = default;
  ~AccessibleName() { Clear(); }
  AccessibleName(const AccessibleName&) = delete;
  AccessibleName& operator=(const AccessibleName&) = delete;

  // Names `control` `name` for screen readers, in place of any name set before. Returns false
  // where the system keeps no annotations (Wine answers E_NOTIMPL): the guessed name stands.
  bool Set(HWND control, const std::wstring& name);
  // Takes the name away again; called before the control is destroyed. Does nothing when no
  // name is set.
  void Clear();

 private:
  HWND control_ = nullptr;
  bool com_initialised_ = false;
};

}  // namespace ombrix::win32

#endif  // OMBRIX_UI_WIN32_ACCESSIBLE_NAME_H_
