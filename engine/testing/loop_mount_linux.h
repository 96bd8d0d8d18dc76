// A file system of a given type in an image file, mounted through a loop device for one test:
// XFS and btrfs to clone, ext4 with one-second file times, and their flags and ACLs; NTFS
// through ntfs-3g, with what Windows keeps of a file.
#ifndef OMBRIX_ENGINE_TESTING_LOOP_MOUNT_LINUX_H_
#define OMBRIX_ENGINE_TESTING_LOOP_MOUNT_LINUX_H_

#include <filesystem>
#include <string>

#include "engine/testing/test_files.h"

namespace ombrix::test {

class LoopMount {
 public:
  // Makes a file system of `type` ("xfs", "btrfs", "ext4", "ntfs") with `options` given to its
  // mkfs (to ntfs-3g, for NTFS), and mounts it; see path() and skipped().
  explicit LoopMount(const std::string& type, const std::string& options = "");
  ~LoopMount();
  LoopMount(const LoopMount&) = delete;
  LoopMount& operator=(const LoopMount&) = delete;

  // Where it is mounted; empty when it could not be, for the reason `skipped()` gives.
  const std::filesystem::path& path() const { return path_; }
  const std::string& skipped() const { return skipped_; }

 private:
  TempFolder folder_;
  std::filesystem::path path_;
  std::string skipped_;
};

}  // namespace ombrix::test

#endif  // OMBRIX_ENGINE_TESTING_LOOP_MOUNT_LINUX_H_
