// Bad paths of POSIX systems: special files, links that lead nowhere, files of /proc.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "engine/run/bad_paths_test.h"

namespace ombrix::test {

std::vector<BadPath> PlatformBadPaths() {
  const auto link = [](const TempFolder& f, const std::filesystem::path& to) {
    std::filesystem::create_symlink(to, f / "Ombrix.exe");
    return f / "Ombrix.exe";
  };
  const auto beside_target = [](const TempFolder& f, const char* name) {
    WriteBytes(f / "Ombrix.exe", MakeSampleTarget().unpatched);
    return f / name;
  };
  return {
      {"trailing blank, beside a target without it (another name here)",
       [=](const TempFolder& f) { return beside_target(f, "Ombrix.exe "); }},
      {"trailing dot, beside a target without it (another name here)",
       [=](const TempFolder& f) { return beside_target(f, "Ombrix.exe."); }},
      {"FIFO (would block an open that waits for a writer)",
       [](const TempFolder& f) {
         ::mkfifo((f / "Ombrix.exe").c_str(), 0644);
         return f / "Ombrix.exe";
       }},
      {"character device", [](const TempFolder&) { return std::filesystem::path("/dev/zero"); }},
      {"socket",
       [](const TempFolder& f) {
         const std::filesystem::path path = f / "Ombrix.exe";
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         path.native().copy(address.sun_path, sizeof(address.sun_path) - 1);
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
         ::close(fd);
         return path;
       }},
      {"dangling link", [=](const TempFolder& f) { return link(f, "missing.exe"); }},
      {"loop of links", [=](const TempFolder& f) { return link(f, "Ombrix.exe"); }},
      {"link to a folder", [=](const TempFolder& f) { return link(f, "."); }},
      {"link to a device", [=](const TempFolder& f) { return link(f, "/dev/null"); }},
      {"loop of links in a parent folder",
       [](const TempFolder& f) {
         std::filesystem::create_directory_symlink("loop", f / "loop");
         return f / "loop" / "Ombrix.exe";
       }},
      {"file of /proc that is empty by its size yet reads data",
       [](const TempFolder&) { return std::filesystem::path("/proc/version"); }, std::nullopt},
  };
}

}  // namespace ombrix::test
