#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "engine/platform/undo_store.h"

namespace ombrix {
namespace {

std::error_code LastError() { return {errno, std::system_category()}; }

// Closes a descriptor when it goes.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opens the store's folder, made private to this user where it is not there; refuses a folder
// that is not this user's own or that others may enter.
std::error_code OpenFolder(const std::filesystem::path& folder, bool make, int& fd) {
  if (folder.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
  if (make) {
    std::error_code ignored;
    std::filesystem::create_directories(folder.parent_path(), ignored);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return LastError();
  }
  fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return LastError();
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    ::close(fd);
    fd = -1;
    return std::make_error_code(std::errc::permission_denied);
  }
  return {};
}

}  // namespace

std::error_code FolderUndoStore::Save(const std::string& key, std::string_view record) {
  int folder_fd = -1;
  if (const std::error_code error = OpenFolder(folder_, true, folder_fd)) return error;
  const Fd folder(folder_fd);
  const std::string fresh = key + ".new";
  const Fd file(::openat(folder.get(), fresh.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (file.get() < 0) return LastError();
  for (std::size_t done = 0; done < record.size();) {
    const ssize_t count = ::write(file.get(), record.data() + done, record.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return count < 0 ? LastError() : std::make_error_code(std::errc::io_error);
    done += static_cast<std::size_t>(count);
  }
  if (::fsync(file.get()) != 0 ||
      ::renameat(folder.get(), fresh.c_str(), folder.get(), key.c_str()) != 0 ||
      ::fsync(folder.get()) != 0) {
    return LastError();
  }
  return {};
}

std::optional<std::string> FolderUndoStore::Load(const std::string& key) {
  int folder_fd = -1;
  if (OpenFolder(folder_, false, folder_fd)) return std::nullopt;
  const Fd folder(folder_fd);
  const Fd file(::openat(folder.get(), key.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (file.get() < 0) return std::nullopt;
  std::string record;
  char buffer[4096];
  for (;;) {
    const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return std::nullopt;
    if (count == 0) return record;
    record.append(buffer, static_cast<std::size_t>(count));
  }
}

std::error_code FolderUndoStore::Remove(const std::string& key) {
  int folder_fd = -1;
  if (const std::error_code error = OpenFolder(folder_, false, folder_fd)) {
    return error == std::errc::no_such_file_or_directory ? std::error_code() : error;
  }
  const Fd folder(folder_fd);
  if (::unlinkat(folder.get(), key.c_str(), 0) != 0) {
    return errno == ENOENT ? std::error_code() : LastError();
  }
  return ::fsync(folder.get()) == 0 ? std::error_code() : LastError();
}

UndoStore& RealUndoStore() {
  static FolderUndoStore store([]() -> std::filesystem::path {
    const char* chosen = std::getenv("OMBRIX_PATCH_STATE_DIR");  // the tests' own, say
    if (chosen != nullptr && chosen[0] == '/') return chosen;
    if (::geteuid() == 0) return "/var/lib/ombrix-patch";
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::filesystem::path(state) / "ombrix-patch";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
      return std::filesystem::path(home) / ".local/state/ombrix-patch";
    }
    return {};
  }());
  return store;
}

}  // namespace ombrix
