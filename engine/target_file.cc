#include "engine/target_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/copy_check.h"
#include "engine/copy_name.h"
#include "engine/file_identity.h"
#include "engine/file_transfer.h"
#include "engine/interrupt_cleanup.h"

namespace ombrix {
namespace {

// Creates a new copy of the target under a fresh name in its folder, trying other names while
// one exists.
std::error_code CreateBeside(FileSystem& files, const Folder& folder, const File& from, File& copy,
                             std::filesystem::path& name) {
  constexpr int kAttempts = 100;
  std::error_code error;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = NewCopyName(folder.name);
    error = files.CreateCopy(folder, from, name, copy);
    if (!AlreadyExists(error)) break;
  }
  return error;
}

// What NewCopyName appended to the target's name: ".ombrix-patch-XXXXXX.tmp", ASCII.
std::string CopySuffix(const std::filesystem::path& copy) {
  const auto& name = copy.native();
  const std::size_t start = name.rfind(std::filesystem::path(".ombrix-patch-").native());
  std::string suffix;
  for (std::size_t at = start; at < name.size(); ++at) suffix += static_cast<char>(name[at]);
  return suffix;
}

// The step of an error that, on Windows, may mean that a running program holds the file.
std::string UnlessInUse(std::error_code error, const std::string& verb, const std::string& step) {
  return InUse(error) ? verb + " the file, because it is in use by another program" : step;
}

}  // namespace

bool ProbeTarget(FileSystem& files, const std::filesystem::path& path) noexcept {
  return !WhyNotATarget(files, path);
}

std::error_code WhyNotATarget(FileSystem& files, const std::filesystem::path& path) noexcept {
  // The system would end the path at a zero character and open another file than the one named.
  if (path.native().find(std::filesystem::path::value_type{}) != path.native().npos) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  File file;
  FileInfo info;
  std::error_code error = files.OpenForReading(path, file);
  if (!error) error = files.Query(file, info);
  if (!error && info.is_regular) {
    (void)files.Close(file);
    return {};
  }
  // A folder opens for reading on Linux and is refused with "access denied" on Windows: either
  // way the reason worth giving is that it is a folder.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    return std::make_error_code(std::errc::is_a_directory);
  }
  return error ? error : make_error_code(PatchErrc::kNotRegularFile);
}

TargetFile::TargetFile(FileSystem& files, const std::filesystem::path& path)
    : files_(files), path_(path) {
  Require(files_.OpenForReading(path_, file_), "open the file for reading");
  Require(files_.Query(file_, info_), "query the file");
  if (!info_.is_regular) Fail(PatchErrc::kNotRegularFile, "read the file");
  // Without a watch, changes are known by the file's times alone.
  (void)files_.Watch(file_, watch_);
}

void TargetFile::Fail(std::error_code error, const std::string& step) const {
  throw PatchError(step, path_, error);
}

void TargetFile::Require(std::error_code error, const std::string& step) const {
  if (error) Fail(error, step);
}

void TargetFile::RequireUnchanged(const std::string& step) {
  bool written = false;
  if (watch_.is_open()) Require(files_.WrittenSince(watch_, written), "check the file for changes");
  written_ = written_ || written;
  FileInfo now;
  const std::error_code error = files_.QueryIn(folder_, folder_.name, now);
  // The file was there when it was opened: another program removed or renamed it since.
  if (error == std::errc::no_such_file_or_directory) Fail(PatchErrc::kFileRemoved, step);
  Require(error, "check the file for changes");
  if (written_ || !SameFileUnchanged(info_, now)) Fail(PatchErrc::kFileChanged, step);
}

void TargetFile::Scan(Scanner& scanner, std::size_t buffer_size) {
  const std::size_t keep = scanner.MaxKeep();
  std::unique_ptr<char[]> buffer;
  try {
    buffer.reset(new char[keep + buffer_size]);
  } catch (const std::bad_alloc&) {
    Fail(std::make_error_code(std::errc::not_enough_memory),
         "hold the read buffer in memory (" + std::to_string(keep + buffer_size) + " bytes)");
  }
  std::uint64_t read = 0;  // bytes of the file read so far
  std::size_t kept = 0;    // of them, at the start of the buffer
  for (;;) {
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer_size, info_.size - read));
    std::size_t count = 0;
    if (wanted > 0) {
      Require(files_.ReadAt(file_, read, {buffer.get() + kept, wanted}, count), "read the file");
      if (count == 0) Fail(PatchErrc::kFileChanged, "read the file");  // it became shorter
    }
    read += count;
    const bool at_end = read == info_.size;
    if (at_end) {
      // One byte more must meet the end: the file did not grow while it was read.
      char extra;
      std::size_t more = 0;
      Require(files_.ReadAt(file_, read, {&extra, 1}, more), "read the file");
      if (more != 0) {
        Fail(info_.size == 0 ? PatchErrc::kLengthUntrue : PatchErrc::kFileChanged, "read the file");
      }
    }
    scanner.Scan({buffer.get(), kept + count}, read - kept - count, at_end);
    if (at_end || scanner.Done()) return;
    const std::size_t next = scanner.Keep();
    std::memmove(buffer.get(), buffer.get() + kept + count - next, next);
    kept = next;
  }
}

WriteAccess TargetFile::Prepare() {
  Require(files_.OpenFolder(path_, file_, folder_), "find the file in its folder");
  RequireUnchanged("write the file");
  WriteAccess access;
  Require(files_.Assess(file_, folder_, access), "find out what this user may do with the file");
  Require(access.refused, UnlessInUse(access.refused, "change", "change the file"));
  return access;
}

PatchError TargetFile::NotKept(const WriteAccess& access) const {
  return PatchError("patch the file and keep it as it is otherwise", path_, PatchErrc::kNotKept,
                    TargetState::kUnchanged,
                    access.copy_falls_short + "; " + access.in_place_falls_short);
}

std::optional<PatchError> TargetFile::WhyNotWritable() {
  try {
    const WriteAccess access = Prepare();
    if (access.copy_falls_short.empty() || access.in_place_falls_short.empty()) {
      return std::nullopt;
    }
    return NotKept(access);
  } catch (const PatchError& error) {
    return error;
  }
}

void TargetFile::Write(const Replacements& replacements) {
  const WriteAccess access = Prepare();
  const bool in_place_keeps = access.in_place_falls_short.empty();
  std::error_code not_copied;
  if (access.copy_falls_short.empty()) {
    not_copied = WriteNewCopy(replacements, in_place_keeps);
    if (!not_copied) return;
  } else if (!in_place_keeps) {
    throw NotKept(access);
  }
  WriteInPlace(replacements, not_copied);
}

std::error_code TargetFile::WriteNewCopy(const Replacements& replacements, bool may_fall_back) {
  File copy;
  std::filesystem::path name;
  if (const std::error_code error = CreateBeside(files_, folder_, file_, copy, name)) {
    if (may_fall_back) return error;
    Fail(error, UnlessInUse(error, "copy", "create a new copy of the file in its folder"));
  }
  try {
    CopyKind kind = CopyKind::kCopied;
    Require(files_.FillCopy(file_, copy, info_.size, kind), "copy the file into the new copy");
    for (const Replacement& replacement : replacements) {
      Require(WriteAllAt(files_, copy, replacement.offset, replacement.image),
              "write the new copy of the file");
    }
    // After the writes, which would clear a capability, and the owner, which would clear the
    // set-ID bits.
    std::string step;
    if (const std::error_code error = GiveIdentity(files_, file_, copy, step)) {
      // Removed, the copy leaves nothing behind, and the write in place takes over.
      if (may_fall_back && (NotPermitted(error) || error == PatchErrc::kNotKept) &&
          !files_.Remove(folder_, name, copy)) {
        return error;
      }
      Fail(error, step);
    }
    Require(files_.Flush(copy), "flush the new copy to the disk");
    // The copy is checked against the file, which must still be as it was read.
    RequireUnchanged("replace the file with the new copy");
    File reader;
    Require(files_.OpenForVerifying(copy, reader), "read back the new copy of the file");
    const std::error_code differs =
        CheckCopy(files_, file_, reader, info_.size, replacements, kind);
    // The difference may be another program's change to the file rather than the disk's.
    if (differs == PatchErrc::kCopyDiffers) RequireUnchanged("read back the new copy of the file");
    Require(differs, "read back the new copy of the file");
    (void)files_.Close(reader);

    // Done with the file itself: Windows replaces no file that is held open.
    (void)files_.Close(file_);
    // Another program may have changed or replaced the file meanwhile; its change wins.
    RequireUnchanged("replace the file with the new copy");
    const std::error_code error = files_.Replace(folder_, name, copy);
    Require(error, UnlessInUse(error, "replace", "replace the file with the new copy"));
  } catch (const PatchError& error) {
    const std::error_code left = files_.Remove(folder_, name, copy);
    // A copy that is no longer the run's, or no longer there, is not the run's to mention.
    if (!left || left == PatchErrc::kCopyReplaced || left == std::errc::no_such_file_or_directory) {
      throw;
    }
    throw PatchError(error.step(), path_, error.code(), error.target(),
                     error.reason() + "; and its new copy beside it (its name with " +
                         CopySuffix(name) + " appended) could not be removed (" + left.message() +
                         "): it may be deleted");
  } catch (...) {
    (void)files_.Remove(folder_, name, copy);
    throw;
  }
  // The rename is complete by itself; flushing the folder makes it durable sooner. A failure
  // there cannot be undone and leaves the new content in place, so it does not fail the run.
  (void)files_.FlushFolder(folder_);
  return {};
}

void TargetFile::WriteInPlace(const Replacements& replacements, std::error_code not_copied) {
  File file;
  if (const std::error_code error = files_.OpenForWriting(file_, folder_, file)) {
    if (InUse(error)) Fail(error, "write the file, because it is in use by another program");
    if (error.category() == PatchCategory()) Fail(error, "write the file");
    if (not_copied) Fail(not_copied, "create a new copy of the file in its folder");
    Fail(error, "open the file for writing");
  }
  RequireUnchanged("overwrite the file in place");

  // A write makes the kernel clear a capability (and, for an ordinary user, the set-ID bits):
  // they are given back afterwards.
  std::vector<FileAttribute> identity;
  Require(files_.ReadIdentity(file, identity), "read the file's attributes");
  std::vector<std::string> old_bytes;
  for (const Replacement& replacement : replacements) {
    std::string& bytes = old_bytes.emplace_back(replacement.image.size(), '\0');
    Require(ReadAllAt(files_, file, replacement.offset, bytes), "read the file");
  }
  std::string step = "overwrite the file in place";
  std::error_code error;
  TargetState state = TargetState::kUnchanged;
  {
    // Until the writes are done or undone, and no longer: the file is closed after it.
    const InPlaceUndo undo_on_interrupt(file, replacements, old_bytes, identity);
    std::size_t touched = 0;  // replacements written, or partly written
    while (!error && touched < replacements.size()) {
      const Replacement& replacement = replacements[touched++];
      error = WriteAllAt(files_, file, replacement.offset, replacement.image);
    }
    if (!error) error = files_.Flush(file);
    // The new bytes are on the disk: what the writes cleared is given back (this user may, as
    // was found out before the first write).
    if (!error) error = GiveBack(files_, file, identity, step);
    if (error) {
      // Put back what was there, bytes and identity, then look: what counts is what the file
      // holds now.
      for (std::size_t i = 0; i < touched; ++i) {
        (void)WriteAllAt(files_, file, replacements[i].offset, old_bytes[i]);
      }
      (void)files_.Flush(file);
      std::string ignored;
      bool unchanged = !GiveBack(files_, file, identity, ignored);
      for (std::size_t i = 0; i < touched && unchanged; ++i) {
        std::string now(old_bytes[i].size(), '\0');
        unchanged = !ReadAllAt(files_, file, replacements[i].offset, now) && now == old_bytes[i];
      }
      if (!unchanged) state = TargetState::kMayBeDamaged;
    }
  }
  if (error) throw PatchError(step, path_, error, state);
  (void)files_.Close(file);
}

}  // namespace ombrix
