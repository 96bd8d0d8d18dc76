// Files dropped on frmMain from Explorer (or, under Wine, from a Linux file manager): the first
// dropped file's path goes into the path box, as if typed, and nothing more.
#ifndef OMBRIX_UI_WIN32_FILE_DROP_H_
#define OMBRIX_UI_WIN32_FILE_DROP_H_

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace ombrix::win32 {

// Makes `window`, and every child of it that takes no drops itself, take dropped files: they
// reach it as WM_DROPFILES, also from a file manager of lower integrity than this elevated
// program.
void AcceptFileDrops(HWND window);

// Replaces the text of the edit control `box` with the whole path of the first file of `drop`,
// undoably and with the caret at the end, as typing does; finishes the drop, which frees it.
// Returns false, leaving the box as it was, where the drop holds no file.
bool TypeFirstDroppedFile(HDROP drop, HWND box);

}  // namespace ombrix::win32

#endif  // OMBRIX_UI_WIN32_FILE_DROP_H_
