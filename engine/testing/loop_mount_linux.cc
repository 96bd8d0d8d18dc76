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
  // NTFS goes through ntfs-3g (FUSE), as a dual-boot desktop mounts it.
  const bool ntfs = type == "ntfs";
  const std::string force = type == "ext4" ? "-F" : ntfs ? "-F -f" : "-f";
  const std::string mount = ntfs ? "ntfs-3g " + options + " " : "mount -o loop ";
  if (std::system(("mkfs." + type + " -q " + force + " " + (ntfs ? "" : options) + " " + image +
                   " >/dev/null 2>&1")
                      .c_str()) != 0) {
    skipped_ = "mkfs." + type + " is missing (xfsprogs, btrfs-progs, e2fsprogs, ntfs-3g)";
  } else if (std::system((mount + image + " " + mounted + " 2>/dev/null").c_str()) != 0) {
    skipped_ = "this machine mounts no loop device";
  } else {
    path_ = mounted;
  }
}

LoopMount::~LoopMount() {
  if (!path_.empty()) (void)std::system(("umount -l " + path_.string()).c_str());
}

}  // namespace ombrix::test
