#include "engine/testing/loop_mount_linux.h"

#include <unistd.h>

#include <cstdlib>

namespace ombrix::test {

LoopMount::LoopMount(const std::string& type, const std::string& options) {
  if (::geteuid() != 0) {
    skipped_ = "mounting an image needs root";
    return;
  }
  const std::string image = (folder_ / "image").string();
  const std::string mounted = (folder_ / "mounted").string();
  std::filesystem::create_directory(mounted);
  WriteBytes(image, "");
  std::filesystem::resize_file(image, std::uint64_t{320} << 20);
  const std::string force = type == "ext4" ? "-F" : "-f";
  if (std::system(
          ("mkfs." + type + " -q " + force + " " + options + " " + image + " >/dev/null 2>&1")
              .c_str()) != 0) {
    skipped_ = "mkfs." + type + " is missing (xfsprogs, btrfs-progs, e2fsprogs)";
  } else if (std::system(("mount -o loop " + image + " " + mounted + " 2>/dev/null").c_str()) !=
             0) {
    skipped_ = "this machine mounts no loop device";
  } else {
    path_ = mounted;
  }
}

LoopMount::~LoopMount() {
  if (!path_.empty()) (void)std::system(("umount -l " + path_.string()).c_str());
}

}  // namespace ombrix::test
