// Console events on Windows (Ctrl+C, Ctrl+Break, a closed console, a log-off): the handler runs
// on a thread of its own while the run goes on, so it cancels the copy being made, waits for the
// step in progress to end, removes the copy, and ends the program with the status Windows gives
// a program ended by Ctrl+C (never 0, so that a roll-out tool does not count the desk as done).
#include "engine/platform/interrupt_cleanup_win32.h"

#include <atomic>
#include <cstring>
#include <string>

#include "engine/platform/interrupt_cleanup.h"

namespace ombrix {
namespace {

// STATUS_CONTROL_C_EXIT.
constexpr UINT kEndedByConsoleEvent = 0xC000013A;
// Windows ends a process a few seconds after its console is closed: the handler waits less.
constexpr DWORD kMaxWaitMs = 4000;
constexpr DWORD kPollMs = 10;

enum State { kNone, kCopying, kMade };

std::mutex steps;
std::atomic<int> state{kNone};
std::atomic<bool> interrupted{false};
BOOL cancel = FALSE;  // read by CopyFileExW
wchar_t registered[32768];

BOOL WINAPI OnConsoleEvent(DWORD /*event*/) {
  interrupted = true;
  cancel = TRUE;
  // Waits, a few seconds at most, until no step is in progress and no copy is being made, and
  // keeps the steps from going on: the program ends holding them.
  std::unique_lock<std::mutex> step(steps, std::defer_lock);
  for (DWORD waited = 0; waited < kMaxWaitMs; waited += kPollMs) {
    if (step.try_lock()) {
      if (state != kCopying) break;
      step.unlock();
    }
    ::Sleep(kPollMs);
  }
  // The copy is open with FILE_SHARE_DELETE: it goes when the program's handles close.
  if (state == kMade) ::DeleteFileW(registered);
  ::ExitProcess(kEndedByConsoleEvent);
}

}  // namespace

// Windows lets a patch in place finish instead of undoing it, so nothing is left to say.
void CleanUpOnInterrupt(std::string_view /*not_undone*/) {
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

BOOL* CopyStarting(const std::filesystem::path& path) {
  const std::lock_guard<std::mutex> step(steps);
  const std::wstring& name = path.native();
  if (name.size() < std::size(registered)) {
    std::memcpy(registered, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
  }
  state = kCopying;
  return &cancel;  // FALSE until a console event, which ends the program
}

bool CopyCancelled() { return interrupted; }

void CopyEnded(bool made) {
  const std::lock_guard<std::mutex> step(steps);
  state = made ? kMade : kNone;
}

void ForgetCopy() { state = kNone; }

std::unique_lock<std::mutex> HoldStep() { return std::unique_lock<std::mutex>(steps); }

// Windows lets the writes in place finish: the handler waits for them, and for their undoing.
InPlaceUndo::InPlaceUndo(const File& /*file*/, std::span<const SavedBytes> /*saved*/,
                         const Identity& /*identity*/) {
  steps.lock();
}

InPlaceUndo::~InPlaceUndo() { steps.unlock(); }

}  // namespace ombrix
