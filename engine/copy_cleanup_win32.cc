#include <windows.h>

#include <atomic>
#include <cstring>

#include "engine/copy_cleanup.h"

namespace ombrix {
namespace {

// The copy to remove, read by the console's handler thread only while `armed` is set.
wchar_t registered[32768];
std::atomic<bool> armed{false};

// The copy is open with FILE_SHARE_DELETE, so it goes when the program's handles close.
BOOL WINAPI OnInterrupt(DWORD /*event*/) {
  if (armed) ::DeleteFileW(registered);
  return FALSE;  // and then the program ends, as it would have
}

}  // namespace

void RemoveCopiesOnInterrupt() { ::SetConsoleCtrlHandler(OnInterrupt, TRUE); }

CopyCleanup::CopyCleanup(const std::filesystem::path& copy) {
  const std::wstring& name = copy.native();
  if (name.size() >= std::size(registered)) return;
  std::memcpy(registered, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
  armed = true;
}

CopyCleanup::~CopyCleanup() { armed = false; }

}  // namespace ombrix
