// The stand-in where no X server can be reached: a lock file per title and user.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "ui/qt/window_titles.h"

namespace ombrix::qt {
namespace {

// The lock's name carries the title in hexadecimal, so any title makes a valid file name.
std::string Hex(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0xF]);
  }
  return hex;
}

int OpenLock(const std::filesystem::path& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

}  // namespace

LockedWindowTitles::LockedWindowTitles(std::filesystem::path folder) : folder_(std::move(folder)) {}

LockedWindowTitles::~LockedWindowTitles() {
  for (const int fd : held_) ::close(fd);
}

std::filesystem::path LockedWindowTitles::LockPath(std::string_view title) const {
  return folder_ / ("ombrix-patch-" + std::to_string(::getuid()) + "-" + Hex(title) + ".lock");
}

bool LockedWindowTitles::Exists(std::string_view title) {
  const int fd = OpenLock(LockPath(title));
  if (fd == -1) return false;
  const bool held_elsewhere = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // also lets go of the lock if this call took it
  return held_elsewhere;
}

void LockedWindowTitles::Claim(std::string_view title) {
  const int fd = OpenLock(LockPath(title));
  if (fd == -1) return;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  held_.push_back(fd);
}

std::unique_ptr<WindowTitles> WindowTitlesOfThisSession() {
  if (std::unique_ptr<X11WindowTitles> x11 = X11WindowTitles::Connect()) return x11;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return std::make_unique<LockedWindowTitles>(runtime != nullptr && *runtime != '\0'
                                                  ? std::filesystem::path(runtime)
                                                  : std::filesystem::temp_directory_path());
}

}  // namespace ombrix::qt
