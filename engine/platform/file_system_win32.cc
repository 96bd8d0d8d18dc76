// The file system on Windows, through the wide-character API with 64-bit sizes.
#include <windows.h>
// After windows.h:
#include <aclapi.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/platform/copy_name.h"
#include "engine/platform/file_errors.h"
#include "engine/platform/file_system.h"
#include "engine/platform/interrupt_cleanup_win32.h"
#include "engine/platform/win32_error.h"

namespace ombrix {
namespace {

HANDLE Handle(const File& file) { return reinterpret_cast<HANDLE>(file.native()); }

std::error_code Win32Error(DWORD code) { return {static_cast<int>(code), Win32Category()}; }

std::error_code OpenPath(const std::filesystem::path& path, DWORD access, DWORD share,
                         DWORD disposition, DWORD flags, File& file) {
  const HANDLE handle =
      ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastWin32Error();
  file.reset(reinterpret_cast<std::intptr_t>(handle));
  return {};
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

std::uint64_t Ticks(LARGE_INTEGER time) { return static_cast<std::uint64_t>(time.QuadPart); }

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

// Whether another process holds `path` open in a way that forbids writing or replacing it: a
// running program, or a program that opened it without sharing its deletion.
bool HeldOpen(const std::filesystem::path& path) {
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle);
    return false;
  }
  return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// The identity's names.
constexpr std::string_view kCreationTime = "creation time";
constexpr std::string_view kOwner = "owner";
constexpr std::string_view kAccessRules = "access rules";

// A security descriptor from GetSecurityInfo, freed when it goes.
struct LocalSecurity {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  ~LocalSecurity() { ::LocalFree(descriptor); }
};

std::error_code ReadSecurity(HANDLE file, SECURITY_INFORMATION what, LocalSecurity& security) {
  const DWORD error = ::GetSecurityInfo(file, SE_FILE_OBJECT, what, &security.owner, nullptr,
                                        &security.dacl, nullptr, &security.descriptor);
  return error == ERROR_SUCCESS ? std::error_code() : Win32Error(error);
}

std::string DescriptorBytes(const LocalSecurity& security) {
  return std::string(static_cast<const char*>(security.descriptor),
                     ::GetSecurityDescriptorLength(security.descriptor));
}

// Lets the process give a file an owner other than itself, as an administrator may.
void MayRestoreOwners() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (::LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &privileges.Privileges[0].Luid)) {
    ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  }
  ::CloseHandle(token);
}

std::error_code SetOwner(HANDLE file, const std::string& descriptor) {
  auto* wanted = const_cast<char*>(descriptor.data());
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorOwner(wanted, &owner, &defaulted)) return LastWin32Error();
  LocalSecurity now;
  if (const std::error_code error = ReadSecurity(file, OWNER_SECURITY_INFORMATION, now)) {
    return error;
  }
  if (owner == nullptr || (now.owner != nullptr && ::EqualSid(owner, now.owner))) return {};
  // Giving another owner needs a handle opened for it.
  const HANDLE writer = ::ReOpenFile(file, WRITE_OWNER, kShareAll, 0);
  if (writer == INVALID_HANDLE_VALUE) return LastWin32Error();
  DWORD error = ::SetSecurityInfo(writer, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner,
                                  nullptr, nullptr, nullptr);
  if (error == ERROR_INVALID_OWNER) {
    MayRestoreOwners();
    error = ::SetSecurityInfo(writer, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr,
                              nullptr, nullptr);
  }
  ::CloseHandle(writer);
  return error == ERROR_SUCCESS ? std::error_code() : Win32Error(error);
}

std::error_code SetAccessRules(HANDLE file, const std::string& descriptor) {
  auto* wanted = const_cast<char*>(descriptor.data());
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted) ||
      !::GetSecurityDescriptorControl(wanted, &control, &revision)) {
    return LastWin32Error();
  }
  if (!present) return {};
  // Rules the file inherits from its folder are inherited anew; its own rules are set, and so
  // is whether it inherits at all.
  const SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                          : UNPROTECTED_DACL_SECURITY_INFORMATION);
  const DWORD error =
      ::SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
  return error == ERROR_SUCCESS ? std::error_code() : Win32Error(error);
}

// Gives the file one part of an identity read by ReadIdentity.
std::error_code SetAttribute(HANDLE file, const FileAttribute& attribute) {
  if (attribute.name == kOwner) return SetOwner(file, attribute.value);
  if (attribute.name == kAccessRules) return SetAccessRules(file, attribute.value);
  if (attribute.name != kCreationTime || attribute.value.size() != sizeof(LARGE_INTEGER)) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  FILE_BASIC_INFO times{};  // zero: left as they are
  std::copy(attribute.value.begin(), attribute.value.end(),
            reinterpret_cast<char*>(&times.CreationTime));
  if (!::SetFileInformationByHandle(file, FileBasicInfo, &times, sizeof(times))) {
    return LastWin32Error();
  }
  return {};
}

// Whether two security descriptors (ReadIdentity's owner parts) name the same owner.
bool SameOwner(const std::string& a, const std::string& b) {
  PSID first = nullptr;
  PSID second = nullptr;
  BOOL defaulted = FALSE;
  return ::GetSecurityDescriptorOwner(const_cast<char*>(a.data()), &first, &defaulted) &&
         ::GetSecurityDescriptorOwner(const_cast<char*>(b.data()), &second, &defaulted) &&
         first != nullptr && second != nullptr && ::EqualSid(first, second);
}

// The final path of an open file or folder, links followed: "\\?\C:\Programfiler\Ombrix.exe".
std::error_code FinalPath(HANDLE handle, std::filesystem::path& path) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return LastWin32Error();
    if (length < name.size()) {
      name.resize(length);
      path = name;
      return {};
    }
    // Too small: `length` is the size needed with the terminating zero (Wine's may leave the
    // zero out), so the name grows every round.
    name.resize(std::size_t{length} + 1);
  }
}

// The full path of `path` as the system would take it, every form kept: "\\?\" paths as they
// are, others made absolute with "." and ".." resolved. No length limit, unlike the final path
// under Wine.
std::error_code FullPath(const std::filesystem::path& path, std::wstring& full) {
  full.assign(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return LastWin32Error();
    if (length < full.size()) {
      full.resize(length);
      return {};
    }
    full.resize(length);  // too small: `length` is the size needed with the terminating zero
  }
}

// How many characters of a full path its root takes, with its separator: "C:\",
// "\\?\C:\", "\\?\Volume{...}\", "\\server\share\", "\\?\UNC\server\share\".
std::size_t RootLength(std::wstring_view path) {
  std::size_t at = 0;
  int parts = 1;  // the separators that end the root
  if (path.starts_with(L"\\\\?\\UNC\\")) {
    at = 8;
    parts = 2;
  } else if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) {
    at = 4;
  } else if (path.starts_with(L"\\\\")) {
    at = 2;
    parts = 2;
  }
  for (; parts > 0; --parts) {
    at = path.find(L'\\', at);
    if (at == std::wstring_view::npos) return path.size();
    ++at;
  }
  return at;
}

// Splits a full path at its last separator into the folder and the name in it. A root keeps its
// separator: "\\?\C:" and "\\?\Volume{...}" would name the volume itself, not its root folder.
std::error_code SplitFullPath(const std::wstring& full, Folder& folder) {
  const std::size_t root = RootLength(full);
  const std::size_t last = full.rfind(L'\\');
  if (last == std::wstring::npos || last + 1 < root || last + 1 == full.size()) {
    return Win32Error(ERROR_INVALID_NAME);
  }
  folder.path = full.substr(0, std::max(last, root));
  folder.name = full.substr(last + 1);
  return {};
}

// Opens `name` in the folder for `access`, never through a link at its end.
std::error_code OpenIn(const Folder& folder, const std::filesystem::path& name, DWORD access,
                       DWORD share, File& file) {
  return OpenPath(folder.path / name, access, share, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, file);
}

std::error_code Identify(HANDLE file, std::uint64_t& volume, std::uint64_t& index) {
  BY_HANDLE_FILE_INFORMATION data;
  if (!::GetFileInformationByHandle(file, &data)) return LastWin32Error();
  volume = data.dwVolumeSerialNumber;
  index = (std::uint64_t{data.nFileIndexHigh} << 32) | data.nFileIndexLow;
  return {};
}

// Whether `other` is the file `file` is: PatchErrc::kFileChanged where it is not.
std::error_code SameAs(HANDLE file, HANDLE other) {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::uint64_t other_volume = 0;
  std::uint64_t other_index = 0;
  if (std::error_code error = Identify(file, volume, index);
      error || (error = Identify(other, other_volume, other_index))) {
    return error;
  }
  return volume == other_volume && index == other_index ? std::error_code()
                                                        : PatchErrc::kFileChanged;
}

// Opens the target's own name in the folder for `access`, and checks that it is still `file`:
// PatchErrc::kFileRemoved where the name is gone, kFileChanged where it names another file.
std::error_code OpenTarget(const File& file, const Folder& folder, DWORD access, DWORD share,
                           File& opened) {
  if (const std::error_code error = OpenIn(folder, folder.name, access, share, opened)) {
    return error == std::errc::no_such_file_or_directory ? make_error_code(PatchErrc::kFileRemoved)
                                                         : error;
  }
  if (const std::error_code error = SameAs(Handle(file), Handle(opened))) {
    opened = File();
    return error;
  }
  return {};
}

// A copy's progress routine: a console event cancels the copy.
DWORD CALLBACK CopyProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                            DWORD, HANDLE, HANDLE, void*) {
  return CopyCancelled() ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
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
  FILE_BASIC_INFO times;
  if (!::GetFileInformationByHandle(Handle(file), &data) ||
      !::GetFileInformationByHandleEx(Handle(file), FileBasicInfo, &times, sizeof(times))) {
    return LastWin32Error();
  }
  info.is_regular = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  info.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  info.modified = Ticks(times.LastWriteTime);
  info.changed = Ticks(times.ChangeTime);
  info.device = data.dwVolumeSerialNumber;
  info.index = (std::uint64_t{data.nFileIndexHigh} << 32) | data.nFileIndexLow;
  info.permissions = data.dwFileAttributes;
  return {};
}

// Deletes what a failed copy left at `path`; why it could not, where something stays.
// `found` says whether there was anything.
std::error_code DeleteLeft(const std::filesystem::path& path, bool& found) {
  found = true;
  if (::DeleteFileW(path.c_str())) return {};
  const std::error_code error = LastWin32Error();
  if (error != std::errc::no_such_file_or_directory) return error;
  found = false;
  return {};
}

class Win32FileSystem final : public FileSystem {
 public:
  std::error_code Open(const std::filesystem::path& path, Target& target) override {
    if (const std::error_code error =
            OpenPath(path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, target.file)) {
      return error;
    }
    target.written = false;
    return Query(target.file, target.info);
  }

  std::error_code OpenFolder(const std::filesystem::path& path, const File& file,
                             Folder& folder) override {
    // The final path of every file is asked for, not only of a reparse point: under Wine a
    // Unix symbolic link looks like a plain file, and only its final path tells.
    std::filesystem::path final_path;
    std::wstring own;
    if (const std::error_code error = FinalPath(Handle(file), final_path)) {
      // No final path: a volume without a drive letter (some network shares), or under Wine a
      // path longer than MAX_PATH. Only a link needs one; else the path itself names the folder.
      const DWORD attributes = ::GetFileAttributesW(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return error;
      }
      if (const std::error_code full = FullPath(path, own)) return full;
    } else {
      own = final_path.native();
    }
    if (const std::error_code error = SplitFullPath(own, folder)) return error;
    // Held without FILE_SHARE_DELETE, the folder cannot be renamed while the run works in it
    // (Wine lets it be all the same).
    if (OpenPath(folder.path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                 FILE_FLAG_BACKUP_SEMANTICS, folder.handle)) {
      if (const std::error_code error = OpenPath(folder.path, 0, kShareAll, OPEN_EXISTING,
                                                 FILE_FLAG_BACKUP_SEMANTICS, folder.handle)) {
        return error;
      }
    }
    File named;
    return OpenTarget(file, folder, 0, kShareAll, named);
  }

  std::error_code CheckUnchanged(Target& target, const Folder& folder) override {
    File file;
    FileInfo now;
    // Opened for its attributes only: no access asked, so no sharing conflicts with a reader.
    std::error_code looked = OpenIn(folder, folder.name, 0, kShareAll, file);
    if (!looked) looked = Query(file, now);
    return CompareWithOpened(target, looked, now);
  }

  std::error_code Assess(const File& file, const Folder& folder, WriteAccess& access) override {
    // Whether this process may write the file at all: a read-only file, access rules, a
    // running program that holds it. Both ways of writing keep everything the file has.
    access = WriteAccess{};
    // Windows refuses to replace or write a read-only file, and so does this, under Wine (run as
    // root, which may write anything) too.
    FileInfo info;
    if (const std::error_code error = Query(file, info)) return error;
    if ((info.permissions & FILE_ATTRIBUTE_READONLY) != 0) {
      access.refused = Win32Error(ERROR_ACCESS_DENIED);
      return {};
    }
    File writer;
    access.refused = OpenTarget(file, folder, GENERIC_WRITE, kShareAll, writer);
    return {};
  }

  std::error_code OpenForWriting(Target& target, const Folder& folder, File& writer) override {
    return OpenTarget(target.file, folder, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, writer);
  }

  std::error_code ReadAt(const File& file, std::uint64_t offset, std::span<char> bytes,
                         std::size_t& count) override {
    DWORD moved = 0;
    OVERLAPPED at = At(offset);
    const BOOL ok = ::ReadFile(Handle(file), bytes.data(), Clamp(bytes.size()), &moved, &at);
    if (!ok && ::GetLastError() == ERROR_HANDLE_EOF) return Moved(TRUE, 0, count);
    return Moved(ok, moved, count);
  }

  std::error_code WriteAt(const File& file, std::uint64_t offset, std::span<const char> bytes,
                          std::size_t& count) override {
    DWORD moved = 0;
    OVERLAPPED at = At(offset);
    const BOOL ok = ::WriteFile(Handle(file), bytes.data(), Clamp(bytes.size()), &moved, &at);
    return Moved(ok, moved, count);
  }

  std::error_code Flush(const File& file) override {
    if (!::FlushFileBuffers(Handle(file))) return LastWin32Error();
    return {};
  }

  std::error_code Close(File& file) override {
    if (!::CloseHandle(reinterpret_cast<HANDLE>(file.release()))) return LastWin32Error();
    return {};
  }

  std::error_code ReadIdentity(const File& file, Identity& identity) override {
    FILE_BASIC_INFO times;
    if (!::GetFileInformationByHandleEx(Handle(file), FileBasicInfo, &times, sizeof(times))) {
      return LastWin32Error();
    }
    LocalSecurity owner;
    LocalSecurity rules;
    if (std::error_code error = ReadSecurity(Handle(file), OWNER_SECURITY_INFORMATION, owner);
        error || (error = ReadSecurity(Handle(file), DACL_SECURITY_INFORMATION, rules))) {
      return error;
    }
    identity = {
        {std::string(kCreationTime), std::string(reinterpret_cast<const char*>(&times.CreationTime),
                                                 sizeof(times.CreationTime))},
        {std::string(kOwner), DescriptorBytes(owner)},
        {std::string(kAccessRules), DescriptorBytes(rules)},
    };
    return {};
  }

  std::error_code SetIdentity(const File& file, const Identity& identity,
                              std::string& part) override {
    part.clear();
    Identity now;
    if (const std::error_code error = ReadIdentity(file, now)) return error;
    for (const FileAttribute& attribute : now) {
      const bool wanted =
          std::any_of(identity.begin(), identity.end(),
                      [&](const FileAttribute& given) { return given.name == attribute.name; });
      // Every file has all three parts: an identity without one is not this platform's.
      if (!wanted) {
        part = attribute.name;
        return std::make_error_code(std::errc::invalid_argument);
      }
    }
    for (const FileAttribute& attribute : identity) {
      const bool same = std::any_of(now.begin(), now.end(), [&](const FileAttribute& present) {
        return present.name == attribute.name && present.value == attribute.value;
      });
      if (same) continue;
      part = attribute.name;
      if (const std::error_code error = SetAttribute(Handle(file), attribute)) return error;
    }
    // Read back: the owner, which a file system may refuse quietly. The creation time is not
    // compared (Wine, on a Unix file system, keeps none to set), nor the access rules as they
    // are read (the rules a file inherits are its folder's, given anew).
    part.clear();
    Identity after;
    if (const std::error_code error = ReadIdentity(file, after)) return error;
    for (const FileAttribute& attribute : identity) {
      if (attribute.name != kOwner) continue;
      const auto taken = std::find_if(after.begin(), after.end(), [&](const FileAttribute& read) {
        return read.name == attribute.name;
      });
      if (taken == after.end() || !SameOwner(taken->value, attribute.value)) {
        part = attribute.name;
        return PatchErrc::kNotKept;
      }
    }
    return {};
  }

  std::error_code MakeCopy(const Folder& folder, const File& from, std::uint64_t size,
                           NewCopy& copy) override {
    copy = NewCopy();
    // CopyFileExW copies the target by its name, so the name must still be `from`'s; it keeps
    // streams and attributes, and clones where the volume can (ReFS, Dev Drive). A failure part
    // way leaves a partial file (Wine's does, Windows' may).
    File named;
    if (const std::error_code error = OpenTarget(from, folder, 0, kShareAll, named)) return error;
    const std::error_code error = CreateUnderNewName(
        folder.name,
        [&](const std::filesystem::path& name) {
          const std::filesystem::path source = folder.path / folder.name;
          const std::filesystem::path to = folder.path / name;
          // Known to the console-event handler before it exists, so that Ctrl+C cancels it (on
          // Windows; Wine finishes the copy first) and removes it.
          BOOL* cancel = CopyStarting(to);
          if (::CopyFileExW(source.c_str(), to.c_str(), CopyProgress, nullptr, cancel,
                            COPY_FILE_FAIL_IF_EXISTS)) {
            CopyEnded(true);
            return std::error_code();
          }
          std::error_code failed = LastWin32Error();
          // Only an existing name was not this run's to make: anything else there is what the
          // failed copy left, a copy made but not filled (a full disk), removed at once.
          if (failed != std::errc::file_exists) copy.left = DeleteLeft(to, copy.created);
          CopyEnded(false);
          if (failed.value() == ERROR_REQUEST_ABORTED) failed = PatchErrc::kInterrupted;
          return failed;
        },
        copy.name);
    if (error) return error;
    // (A read-only file, whose copy would be read-only too, is refused by Assess.)
    // From here on the copy is known by its handle: renamed and removed through it.
    const std::error_code opened =
        OpenIn(folder, copy.name, GENERIC_READ | GENERIC_WRITE | WRITE_DAC | DELETE,
               FILE_SHARE_READ | FILE_SHARE_DELETE, copy.file);
    if (opened) {
      bool found = false;
      copy.left = DeleteLeft(folder.path / copy.name, found);
      ForgetCopy();
      return opened;
    }
    copy.created = true;
    // The target changed its length while it was copied.
    FileInfo made;
    std::error_code checked = Query(copy.file, made);
    if (!checked && made.size != size) checked = PatchErrc::kFileChanged;
    if (checked) {
      copy.left = Remove(folder, copy);
      copy.file = File();
    }
    return checked;
  }

  std::error_code OpenForVerifying(const NewCopy& copy, File& reader) override {
    // The copy itself, never its name, opened again to bypass the system's cache.
    const HANDLE handle =
        ::ReOpenFile(Handle(copy.file), GENERIC_READ, kShareAll, FILE_FLAG_NO_BUFFERING);
    if (handle == INVALID_HANDLE_VALUE) return LastWin32Error();
    reader.reset(reinterpret_cast<std::intptr_t>(handle));
    return {};
  }

  std::error_code Replace(const Folder& folder, const NewCopy& copy) override {
    const std::filesystem::path target = folder.path / folder.name;
    // The copy is renamed through its handle: whatever another program did to its name, only
    // the copy itself can be moved.
    const std::wstring& to = target.native();
    std::string buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t), '\0');
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, to.data(), rename->FileNameLength);
    const std::unique_lock<std::mutex> step = HoldStep();
    if (RetriedBriefly([&] {
          return ::SetFileInformationByHandle(Handle(copy.file), FileRenameInfo, rename,
                                              static_cast<DWORD>(buffer.size()));
        })) {
      ForgetCopy();
      // Written through, as MoveFileExW's MOVEFILE_WRITE_THROUGH would.
      ::FlushFileBuffers(Handle(copy.file));
      return {};
    }
    const std::error_code error = LastWin32Error();
    if (error.value() == ERROR_ACCESS_DENIED && HeldOpen(target)) {
      return Win32Error(ERROR_SHARING_VIOLATION);
    }
    return error;
  }

  std::error_code Remove(const Folder& folder, const NewCopy& copy) override {
    const std::unique_lock<std::mutex> step = HoldStep();
    FILE_DISPOSITION_INFO remove{TRUE};
    // Through the copy's handle where there is one: gone once the handle closes.
    const bool removed =
        copy.file.is_open()
            ? RetriedBriefly([&] {
                return ::SetFileInformationByHandle(Handle(copy.file), FileDispositionInfo, &remove,
                                                    sizeof(remove));
              })
            : RetriedBriefly([&] { return ::DeleteFileW((folder.path / copy.name).c_str()); });
    const std::error_code error = removed ? std::error_code() : LastWin32Error();
    ForgetCopy();
    return error;
  }
};

}  // namespace

void File::CloseIgnoringErrors(std::intptr_t handle) {
  ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

FileSystem& RealFileSystem() {
  static Win32FileSystem files;
  return files;
}

bool InUse(std::error_code error) {
  return error.category() == Win32Category() &&
         (error.value() == ERROR_SHARING_VIOLATION || error.value() == ERROR_LOCK_VIOLATION);
}

bool NotPermitted(std::error_code error) {
  return error == std::errc::permission_denied || error == std::errc::read_only_file_system;
}

}  // namespace ombrix
