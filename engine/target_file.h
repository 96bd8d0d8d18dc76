// Reading a target file once, part by part, and replacing its content without ever losing it:
// the new content is a copy of the file beside it (made by the kernel where it can), with the
// run's few ranges written over it, given the file's whole identity and checked against what the
// disk holds; only then is it renamed over the file in one atomic step. Every call goes through
// a FileSystem.
#ifndef OMBRIX_ENGINE_TARGET_FILE_H_
#define OMBRIX_ENGINE_TARGET_FILE_H_

#include <cstddef>
#include <filesystem>
#include <vector>

#include "engine/file_system.h"
#include "engine/patch_images.h"
#include "engine/stream_scan.h"

namespace ombrix {

// The size of the buffer through which a run reads a target, unless told otherwise.
inline constexpr std::size_t kReadBufferSize = std::size_t{256} << 10;

// Whether `path` opens for reading and is a regular file once links are followed (a path with a
// zero character in it never is). Never blocks, never creates anything and never throws.
bool ProbeTarget(FileSystem& files, const std::filesystem::path& path) noexcept;

// A target file, open for one run.
class TargetFile {
 public:
  // Opens the file at `path` for reading. Throws PatchError when it cannot be opened or is not
  // a regular file.
  TargetFile(FileSystem& files, const std::filesystem::path& path);

  // Reads the file from its start through a buffer of `buffer_size` bytes (and the few bytes
  // the scanner keeps from one part for the next), handing each part to `scanner`, until the
  // file ends or the scanner is done. Throws PatchError when reading fails or the file ends
  // before its length.
  void Scan(Scanner& scanner, std::size_t buffer_size = kReadBufferSize);

  // Makes the file (the file a symbolic link points to, for a link) hold its bytes with
  // `replacements` written over them, in order.
  //
  // The new copy is created beside the file and filled by a clone where the file system shares
  // blocks, else by an in-kernel copy, else through memory, keeping holes; the replacements are
  // written; it is given the file's identity (owner, mode, extended attributes; on Windows
  // creation time and security descriptor), flushed, read back from the disk and compared, and
  // then renamed over the file. Where the folder lets no new file be made or renamed, the
  // replacements are written over the file itself instead, and undone should that fail.
  //
  // Throws PatchError naming the failed step. The file then holds its old bytes (unless the
  // error says otherwise) and no copy is left behind. A file that another program changed or
  // replaced since it was opened is left as that program made it, and the error says so.
  void Write(const Replacements& replacements);

 private:
  void Require(std::error_code error, const std::string& step) const;
  // Throws the error of a file changed by another program since it was opened.
  void RequireUnchanged();
  // The same as Require, where a missing file means that another program removed it.
  void RequireFound(std::error_code error, const std::string& step) const;
  void OverwriteInPlace(const std::filesystem::path& target, const Replacements& replacements,
                        std::error_code not_created);
  void WriteCopy(const std::filesystem::path& target, File& copy,
                 const std::filesystem::path& copy_path, bool filled,
                 const Replacements& replacements);
  bool FillCopy(const File& copy);
  void CopyStretch(const File& copy, std::uint64_t start, std::uint64_t end, bool& in_kernel);
  void GiveIdentity(const File& copy);
  // Gives `file` back what of `identity` it lost when it was written in place.
  void GiveBack(const File& file, const std::vector<FileAttribute>& identity);
  void VerifyCopy(const std::filesystem::path& copy_path, const Replacements& replacements,
                  bool cloned);

  FileSystem& files_;
  std::filesystem::path path_;    // as given
  std::filesystem::path target_;  // the file it names, links followed, once Write knows it
  File file_;
  FileInfo info_;  // when it was opened
};

// The name a new copy of `target` gets beside it while it is written: the target's name with
// ".ombrix-patch-" + six characters + ".tmp" appended. A leftover of a killed run may be
// deleted.
std::filesystem::path NewCopyName(const std::filesystem::path& target);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_TARGET_FILE_H_
