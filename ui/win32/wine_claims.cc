#include "ui/win32/wine_claims.h"

#include <utility>

#include "engine/platform/win32_text.h"

namespace ombrix::win32 {
namespace {

// A Unix path as Wine's Z: drive shows it.
std::wstring OnDriveZ(const std::string& unix_path) {
  std::wstring path = L"Z:" + WideFromUtf8(unix_path);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

// The whole of a small Unix file read through drive Z: (a file of /proc says its size is 0).
std::string ReadUnixFile(const std::string& unix_path) {
  const HANDLE file =
      ::CreateFileW(OnDriveZ(unix_path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char chunk[4096];
  DWORD count = 0;
  while (text.size() < (1 << 20) && ::ReadFile(file, chunk, sizeof(chunk), &count, nullptr) &&
         count > 0) {
    text.append(chunk, count);
  }
  ::CloseHandle(file);
  return text;
}

}  // namespace

bool RunsUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

WineClaims::WineClaims(std::vector<LockFolder> folders, std::string host)
    : folders_(std::move(folders)), host_(std::move(host)) {}

WineClaims::~WineClaims() {
  for (const HANDLE file : held_) ::CloseHandle(file);
}

bool WineClaims::Claim(std::string_view marked_title) {
  std::vector<HANDLE> taken;
  for (const LockFolder& folder : folders_) {
    const std::string path = folder.path + "/" + LockFileName(marked_title, folder, host_);
    // In a folder that exists, as the Linux copies make it; never a folder of its own.
    const HANDLE file = ::CreateFileW(OnDriveZ(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    OVERLAPPED whole{};
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                     MAXDWORD, &whole)) {
      taken.push_back(file);
      continue;
    }
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    if (error == ERROR_LOCK_VIOLATION) {  // a running copy holds it
      for (const HANDLE held : taken) ::CloseHandle(held);
      return false;
    }
  }
  held_.insert(held_.end(), taken.begin(), taken.end());
  return true;
}

std::unique_ptr<WineClaims> WineClaimsOfThisUser() {
  if (!RunsUnderWine()) return std::make_unique<WineClaims>(std::vector<LockFolder>(), "");
  // Wine keeps some of the Unix environment from Windows programs (HOME among them); the
  // process's own Unix environment holds it all.
  const std::string environment = ReadUnixFile("/proc/self/environ");
  std::string host = ReadUnixFile("/proc/sys/kernel/hostname");
  while (!host.empty() && (host.back() == '\n' || host.back() == '\r')) host.pop_back();
  return std::make_unique<WineClaims>(LockFolders([&](const char* name) -> std::string {
                                        const std::string wanted = std::string(name) + "=";
                                        for (std::size_t at = 0; at < environment.size();) {
                                          const std::size_t end = environment.find('\0', at);
                                          const std::string_view entry =
                                              std::string_view(environment).substr(at, end - at);
                                          if (entry.starts_with(wanted)) {
                                            return std::string(entry.substr(wanted.size()));
                                          }
                                          if (end == std::string::npos) break;
                                          at = end + 1;
                                        }
                                        return {};
                                      }),
                                      host.empty() ? "localhost" : host);
}

}  // namespace ombrix::win32
