#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "engine/platform/undo_store.h"

namespace ombrix {
namespace {

std::error_code LastError() { return {static_cast<int>(::GetLastError()), std::system_category()}; }

// Closes a handle when it goes.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

std::error_code FolderUndoStore::Save(const std::string& key, std::string_view record) {
  if (folder_.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error) return error;
  const std::filesystem::path fresh = folder_ / (key + ".new");
  {
    const Handle file(::CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return LastError();
    for (std::size_t done = 0; done < record.size();) {
      DWORD count = 0;
      const auto wanted = static_cast<DWORD>(std::min<std::size_t>(record.size() - done, 1 << 20));
      if (!::WriteFile(file.get(), record.data() + done, wanted, &count, nullptr)) {
        return LastError();
      }
      done += count;
    }
    if (!::FlushFileBuffers(file.get())) return LastError();
  }
  const std::filesystem::path kept = folder_ / key;
  if (!::MoveFileExW(fresh.c_str(), kept.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return LastError();
  }
  return {};
}

std::optional<std::string> FolderUndoStore::Load(const std::string& key) {
  if (folder_.empty()) return std::nullopt;
  const std::filesystem::path kept = folder_ / key;
  const Handle file(::CreateFileW(kept.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string record;
  char buffer[4096];
  for (;;) {
    DWORD count = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr)) return std::nullopt;
    if (count == 0) return record;
    record.append(buffer, count);
  }
}

std::error_code FolderUndoStore::Remove(const std::string& key) {
  if (folder_.empty()) return {};
  const std::filesystem::path kept = folder_ / key;
  if (!::DeleteFileW(kept.c_str())) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    return {static_cast<int>(error), std::system_category()};
  }
  return {};
}

UndoStore& RealUndoStore() {
  static FolderUndoStore store([]() -> std::filesystem::path {
    const wchar_t* chosen = _wgetenv(L"OMBRIX_PATCH_STATE_DIR");  // the tests' own, say
    if (chosen != nullptr && chosen[0] != L'\0') return chosen;
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || local[0] == L'\0') return {};
    return std::filesystem::path(local) / L"ombrix-patch";
  }());
  return store;
}

}  // namespace ombrix
