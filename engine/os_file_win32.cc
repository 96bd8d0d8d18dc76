// The file-system primitives on Windows, through the wide-character API with 64-bit sizes.
#include <windows.h>

#include <algorithm>
#include <string>

#include "engine/os_file.h"
#include "engine/win32_error.h"

namespace ombrix::os {
namespace {

HANDLE Handle(const File& file) { return reinterpret_cast<HANDLE>(file.native()); }

std::error_code Open(const std::filesystem::path& path, DWORD access, DWORD share,
                     DWORD disposition, DWORD flags, File& file) {
  const HANDLE handle =
      ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastWin32Error();
  file.reset(reinterpret_cast<std::intptr_t>(handle));
  return {};
}

// ReadFile and WriteFile move at most a DWORD at a time; a smaller cap keeps each call short.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

DWORD Clamp(std::size_t size) { return static_cast<DWORD>(std::min(size, kMaxTransfer)); }

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED overlapped{};
  overlapped.Offset = static_cast<DWORD>(offset);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return overlapped;
}

// REQUIRES: called after the call that set `moved`, not in the same expression.
std::error_code Moved(BOOL ok, DWORD moved, std::size_t& count) {
  if (!ok) return LastWin32Error();
  count = moved;
  return {};
}

bool Transient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

// Virus scanners and indexers hold a new file for a moment; such calls are tried again for
// about 100 ms before their failure counts.
template <typename Call>
BOOL RetriedBriefly(Call call) {
  constexpr int kAttempts = 10;
  constexpr DWORD kPauseMs = 10;
  for (int attempt = 1;; ++attempt) {
    if (call()) return TRUE;
    const DWORD error = ::GetLastError();
    if (attempt == kAttempts || !Transient(error)) return FALSE;
    ::Sleep(kPauseMs);
    ::SetLastError(error);
  }
}

// Whether another process holds `path` open in a way that forbids writing it, as Windows does
// for a running program.
bool HeldOpen(const std::filesystem::path& path) {
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle);
    return false;
  }
  return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

void File::CloseIgnoringErrors(std::intptr_t handle) {
  ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

std::error_code OpenForReading(const std::filesystem::path& path, File& file) {
  return Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, file);
}

std::error_code OpenForWriting(const std::filesystem::path& path, File& file) {
  return Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING,
              FILE_ATTRIBUTE_NORMAL, file);
}

std::error_code CreateNew(const std::filesystem::path& path, const FileInfo& like, File& file) {
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD attributes = like.permissions & kKept;
  return Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW,
              attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, file);
}

std::error_code Query(const File& file, FileInfo& info) {
  ::SetLastError(ERROR_SUCCESS);
  const DWORD type = ::GetFileType(Handle(file));
  if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != ERROR_SUCCESS) return LastWin32Error();
  if (type != FILE_TYPE_DISK) {
    info = FileInfo{};
    return {};
  }
  BY_HANDLE_FILE_INFORMATION data;
  if (!::GetFileInformationByHandle(Handle(file), &data)) return LastWin32Error();
  info.is_regular = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  info.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  info.modified = (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                  data.ftLastWriteTime.dwLowDateTime;
  info.permissions = data.dwFileAttributes;
  return {};
}

std::error_code QueryPath(const std::filesystem::path& path, FileInfo& info) {
  File file;
  // Opened for its attributes only: no access asked, so no sharing conflicts with a reader.
  if (const std::error_code error =
          Open(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
               FILE_FLAG_BACKUP_SEMANTICS, file)) {
    return error;
  }
  return Query(file, info);
}

std::error_code ReadSome(const File& file, std::span<char> bytes, std::size_t& count) {
  DWORD moved = 0;
  const BOOL ok = ::ReadFile(Handle(file), bytes.data(), Clamp(bytes.size()), &moved, nullptr);
  return Moved(ok, moved, count);
}

std::error_code ReadAt(const File& file, std::uint64_t offset, std::span<char> bytes,
                       std::size_t& count) {
  DWORD moved = 0;
  OVERLAPPED at = At(offset);
  const BOOL ok = ::ReadFile(Handle(file), bytes.data(), Clamp(bytes.size()), &moved, &at);
  if (!ok && ::GetLastError() == ERROR_HANDLE_EOF) return Moved(TRUE, 0, count);
  return Moved(ok, moved, count);
}

std::error_code WriteSome(const File& file, std::span<const char> bytes, std::size_t& count) {
  DWORD moved = 0;
  const BOOL ok = ::WriteFile(Handle(file), bytes.data(), Clamp(bytes.size()), &moved, nullptr);
  return Moved(ok, moved, count);
}

std::error_code WriteAt(const File& file, std::uint64_t offset, std::span<const char> bytes,
                        std::size_t& count) {
  DWORD moved = 0;
  OVERLAPPED at = At(offset);
  const BOOL ok = ::WriteFile(Handle(file), bytes.data(), Clamp(bytes.size()), &moved, &at);
  return Moved(ok, moved, count);
}

std::error_code CopyPermissions(const File& /*file*/, const FileInfo& /*like*/) {
  // The attributes were given at creation; the new file takes its folder's access rules, as
  // any file written there by the user does.
  return {};
}

std::error_code Flush(const File& file) {
  if (!::FlushFileBuffers(Handle(file))) return LastWin32Error();
  return {};
}

std::error_code Close(File& file) {
  if (!::CloseHandle(reinterpret_cast<HANDLE>(file.release()))) return LastWin32Error();
  return {};
}

std::error_code ResolveLinks(const std::filesystem::path& path, std::filesystem::path& resolved) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastWin32Error();
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    resolved = path;
    return {};
  }
  File file;
  if (const std::error_code error =
          Open(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
               FILE_FLAG_BACKUP_SEMANTICS, file)) {
    return error;
  }
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFinalPathNameByHandleW(Handle(file), name.data(), static_cast<DWORD>(name.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return LastWin32Error();
    if (length < name.size()) {
      name.resize(length);
      break;
    }
    name.resize(length);
  }
  resolved = name;
  return {};
}

std::error_code Replace(const std::filesystem::path& from, const std::filesystem::path& to) {
  // Windows refuses to replace a read-only file, and so does this, under Wine too.
  const DWORD attributes = ::GetFileAttributesW(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return {ERROR_ACCESS_DENIED, Win32Category()};
  }
  if (RetriedBriefly([&] {
        return ::MoveFileExW(from.c_str(), to.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
      })) {
    return {};
  }
  const std::error_code error = LastWin32Error();
  if (error.value() == ERROR_ACCESS_DENIED && HeldOpen(to)) {
    return {ERROR_SHARING_VIOLATION, Win32Category()};
  }
  return error;
}

std::error_code Remove(const std::filesystem::path& path) {
  if (!RetriedBriefly([&] { return ::DeleteFileW(path.c_str()); })) return LastWin32Error();
  return {};
}

std::error_code FlushFolder(const std::filesystem::path& /*folder*/) {
  // MOVEFILE_WRITE_THROUGH returns only once the move is on the disk.
  return {};
}

bool AlreadyExists(std::error_code error) {
  return error.category() == Win32Category() &&
         (error.value() == ERROR_FILE_EXISTS || error.value() == ERROR_ALREADY_EXISTS);
}

bool InUse(std::error_code error) {
  return error.category() == Win32Category() &&
         (error.value() == ERROR_SHARING_VIOLATION || error.value() == ERROR_LOCK_VIOLATION);
}

void IgnoreFileSizeLimitSignal() {}

}  // namespace ombrix::os
