// Reading a target file once, part by part, and changing its content without ever losing it or
// anything else about it. The way is chosen from what it keeps: a new copy of the file beside
// it, with the run's few ranges written over it, given the file's whole identity and checked
// against what the disk holds, then renamed over the file in one atomic step, where this user
// can give a new file all the file has; else the ranges written over the file in place, undone
// should that fail; else no change, and an error that says what stood in the way. Every call
// goes through a FileSystem.
#ifndef OMBRIX_ENGINE_TARGET_FILE_H_
#define OMBRIX_ENGINE_TARGET_FILE_H_

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "engine/file_system.h"
#include "engine/patch_error.h"
#include "engine/patch_images.h"
#include "engine/stream_scan.h"

namespace ombrix {

// The size of the buffer through which a run reads a target, unless told otherwise.
inline constexpr std::size_t kReadBufferSize = std::size_t{256} << 10;

// Whether `path` opens for reading and is a regular file once links are followed (a path with a
// zero character in it never is). Never blocks, never creates anything and never throws.
bool ProbeTarget(FileSystem& files, const std::filesystem::path& path) noexcept;

// Why ProbeTarget refuses `path`, in the system's words: its reason where the path does not open
// for reading (no such file, permission denied), std::errc::is_a_directory for a folder,
// PatchErrc::kNotRegularFile for anything else that is not a regular file, and
// std::errc::invalid_argument for a path with a zero character; none where it is a target.
std::error_code WhyNotATarget(FileSystem& files, const std::filesystem::path& path) noexcept;

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

  // The error that Write would meet before writing anything, because of who this user is or
  // what the file is: no permission, an immutable file, an identity no way of writing keeps.
  // Writes nothing.
  std::optional<PatchError> WhyNotWritable();

  // Makes the file (the file a symbolic link points to, for a link) hold its bytes with
  // `replacements` written over them, in order, and keep its owner, group, permissions,
  // attributes and flags.
  //
  // Throws PatchError naming the failed step. The file then holds its old bytes, unless the
  // error says otherwise (a write in place whose undoing failed too), and no copy is left
  // behind. A file that another program changed or replaced since it was opened is left as
  // that program made it, and the error says so.
  void Write(const Replacements& replacements);

 private:
  [[noreturn]] void Fail(std::error_code error, const std::string& step) const;
  void Require(std::error_code error, const std::string& step) const;
  // Throws kFileRemoved or kFileChanged where the target's name no longer holds the file as it
  // was opened, or another program wrote to it since.
  void RequireUnchanged(const std::string& step);
  // Opens the file's folder and finds out what this user may do. Throws where nothing may be.
  WriteAccess Prepare();
  // The error of a file that neither way of writing would keep as it is.
  PatchError NotKept(const WriteAccess& access) const;
  // With `may_fall_back`, returns why the folder refused the new copy, or the copy refused
  // the file's identity: nothing was changed, and the caller writes in place instead. Throws
  // every other failure.
  std::error_code WriteNewCopy(const Replacements& replacements, bool may_fall_back);
  // `not_copied` is why no new copy was made, for the error where the file does not open for
  // writing either.
  void WriteInPlace(const Replacements& replacements, std::error_code not_copied);

  FileSystem& files_;
  std::filesystem::path path_;  // as given
  File file_;
  FileInfo info_;  // when it was opened
  File watch_;     // tells of writes by other programs, where the platform can
  bool written_ = false;
  Folder folder_;  // once Prepare opened it
};

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_TARGET_FILE_H_
