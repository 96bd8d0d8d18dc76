// What the Windows file system tells the console-event handler of interrupt_cleanup_win32.cc.
#ifndef OMBRIX_ENGINE_PLATFORM_INTERRUPT_CLEANUP_WIN32_H_
#define OMBRIX_ENGINE_PLATFORM_INTERRUPT_CLEANUP_WIN32_H_

#include <windows.h>

#include <filesystem>
#include <mutex>

namespace ombrix {

// CopyFileExW is about to make the run's new copy at `path`: from now on a console event cancels
// the copy through the flag returned (CopyFileExW's pbCancel; its progress routine asks
// CopyCancelled) and waits, a few seconds at most, for the call to end.
BOOL* CopyStarting(const std::filesystem::path& path);
bool CopyCancelled();
// CopyFileExW returned; `made`: the copy exists, and a console event removes it until
// ForgetCopy.
void CopyEnded(bool made);
// The copy was renamed over its target or removed.
void ForgetCopy();

// Held across a step that a console event must not cut in two (a rename, the writes in place):
// the event waits for it, a few seconds at most.
std::unique_lock<std::mutex> HoldStep();

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PLATFORM_INTERRUPT_CLEANUP_WIN32_H_
