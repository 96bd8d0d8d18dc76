// Reading a target file whole and replacing its content without ever losing it: the new
// content goes to a new file beside the target, which then replaces the target in one atomic
// step. Every file-system call goes through the FileFaultHook seam.
#ifndef OMBRIX_ENGINE_TARGET_FILE_H_
#define OMBRIX_ENGINE_TARGET_FILE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>

#include "engine/patch_images.h"

namespace ombrix {

// A file's whole content, exactly as long as the file, and when the file was last changed before
// it was read, by which a later change by another program is noticed.
class FileBuffer {
 public:
  // Allocates `size` bytes without initialising them; throws std::bad_alloc.
  explicit FileBuffer(std::size_t size, std::uint64_t modified = 0);

  std::span<char> bytes() { return {data_.get(), size_}; }
  std::span<const char> bytes() const { return {data_.get(), size_}; }
  // The file's time of last change, in the platform's own ticks.
  std::uint64_t modified() const { return modified_; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_;
  std::uint64_t modified_;
};

// Whether `path` opens for reading and is a regular file once links are followed (a path with a
// zero character in it never is). Never blocks, never creates anything and never throws.
bool ProbeTarget(const std::filesystem::path& path) noexcept;

// Called after each read with the bytes read so far, the buffer's first bytes.
using ReadProgress = std::function<void(std::span<const char> filled)>;

// Reads the whole file at `path`, a megabyte at a time, telling `progress` (when given) after
// each read. Throws PatchError when it cannot be opened or read, is not a regular file, changes
// its length while it is read, or is too large to hold in memory.
FileBuffer ReadTarget(const std::filesystem::path& path, const ReadProgress& progress = {});

// Makes the file at `path` (the file a symbolic link points to, for a link) hold exactly
// `content`, which was read from it by ReadTarget and changed only inside `changed`.
//
// The content is written to a new file beside the target, given the target's permissions,
// flushed, read back and compared, and only then renamed over it, so the target holds either its
// old or its new bytes at every moment. Where no new file can be made in the folder, the target is
// overwritten in place, `changed` ranges only. Throws PatchError naming the failed step; the target
// then holds its old bytes (unless the error says otherwise) and no new file is left behind. A
// target that another program changed since it was read is not replaced: its change is kept and
// the error says so (a change in the last moment before the rename, or one the file system does
// not date, goes unnoticed).
void WriteTarget(const std::filesystem::path& path, const FileBuffer& content,
                 std::span<const ByteRange> changed);

// The name a new copy of `target` gets beside it while it is written: the target's name with
// ".ombrix-patch-" + six characters + ".tmp" appended. A leftover of a killed run may be
// deleted.
std::filesystem::path NewCopyName(const std::filesystem::path& target);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_TARGET_FILE_H_
