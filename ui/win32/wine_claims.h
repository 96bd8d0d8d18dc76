// The Windows program under Wine beside the Linux program: a Linux copy of the tool cannot be
// found among Wine's windows, but its claims can, through Wine's Z: drive. A Linux copy holds
// its lock files (ui/claim_files.h) with an open file description lock; LockFileEx, which Wine
// makes a POSIX lock on the same file, conflicts with it, and a Linux copy started later meets
// the lock the Windows copy holds. On Windows itself there is nothing to see.
#ifndef OMBRIX_UI_WIN32_WINE_CLAIMS_H_
#define OMBRIX_UI_WIN32_WINE_CLAIMS_H_

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/claim_files.h"

namespace ombrix::win32 {

// Whether this program runs under Wine (its ntdll has wine_get_version).
bool RunsUnderWine();

// Lock files of the Linux copies of this user, taken from Windows.
class WineClaims {
 public:
  // The lock folders of `folders` (Unix paths) on the host named `host`.
  WineClaims(std::vector<LockFolder> folders, std::string host);
  ~WineClaims();
  WineClaims(const WineClaims&) = delete;
  WineClaims& operator=(const WineClaims&) = delete;

  // Takes the lock file for `marked_title` in each folder that exists, and holds them until
  // this object is destroyed. False, holding none, when a running copy holds any of them.
  bool Claim(std::string_view marked_title);

 private:
  std::vector<LockFolder> folders_;
  std::string host_;
  std::vector<HANDLE> held_;
};

// The claims of this user's session, from the Unix environment Wine was started with and the
// machine's name; no folders where the program does not run under Wine.
std::unique_ptr<WineClaims> WineClaimsOfThisUser();

}  // namespace ombrix::win32

#endif  // OMBRIX_UI_WIN32_WINE_CLAIMS_H_
