#include "ui/win32/file_drop.h"

#include <string>

namespace ombrix::win32 {
namespace {

// The message by which a drop's data crosses from another process; it has no name in the SDK.
constexpr UINT kCopyGlobalData = 0x0049;

}  // namespace

void AcceptFileDrops(HWND window) {
  // User Interface Privilege Isolation keeps Explorer's drop messages away from a program run as
  // administrator unless the program lets them through.
  for (const UINT message :
       {static_cast<UINT>(WM_DROPFILES), static_cast<UINT>(WM_COPYDATA), kCopyGlobalData}) {
    ::ChangeWindowMessageFilter(message, MSGFLT_ADD);
  }
  ::DragAcceptFiles(window, TRUE);
}

bool TypeFirstDroppedFile(HDROP drop, HWND box) {
  std::wstring path;
  if (::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) > 0) {
    path.resize(::DragQueryFileW(drop, 0, nullptr, 0));
    path.resize(::DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size()) + 1));
  }
  ::DragFinish(drop);
  if (path.empty()) return false;
  ::SendMessageW(box, EM_SETSEL, 0, -1);
  ::SendMessageW(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
  return true;
}

}  // namespace ombrix::win32
