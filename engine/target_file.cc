#include "engine/target_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "engine/copy_cleanup.h"
#include "engine/patch_error.h"

namespace ombrix {
namespace {

// Copies and checks go a megabyte at a time.
constexpr std::size_t kChunk = std::size_t{1} << 20;

// Memory for one chunk, aligned for reads that bypass the system's cache.
class AlignedChunk {
 public:
  AlignedChunk() : memory_(new char[kChunk + kVerifyAlignment]) {
    const auto address = reinterpret_cast<std::uintptr_t>(memory_.get());
    data_ = memory_.get() + (kVerifyAlignment - address % kVerifyAlignment) % kVerifyAlignment;
  }
  std::span<char> span(std::size_t size = kChunk) { return {data_, size}; }

 private:
  std::unique_ptr<char[]> memory_;
  char* data_;
};

// Reads until `needed` bytes of `bytes` are filled or the file ends; `count` says how far it
// got. (A read that bypasses the cache must not go on at an unaligned offset.)
std::error_code ReadAt(FileSystem& files, const File& file, std::uint64_t offset,
                       std::span<char> bytes, std::size_t needed, std::size_t& count) {
  count = 0;
  while (count < needed) {
    std::size_t moved = 0;
    if (const std::error_code error =
            files.ReadAt(file, offset + count, bytes.subspan(count), moved)) {
      return error;
    }
    if (moved == 0) break;
    count += moved;
  }
  return {};
}

// Reads until `bytes` is full; running into the end of the file first is an error.
std::error_code ReadAllAt(FileSystem& files, const File& file, std::uint64_t offset,
                          std::span<char> bytes) {
  std::size_t count = 0;
  if (const std::error_code error = ReadAt(files, file, offset, bytes, bytes.size(), count)) {
    return error;
  }
  return count == bytes.size() ? std::error_code() : PatchErrc::kFileChanged;
}

std::error_code WriteAllAt(FileSystem& files, const File& file, std::uint64_t offset,
                           std::span<const char> bytes) {
  while (!bytes.empty()) {
    std::size_t count = 0;
    if (const std::error_code error = files.WriteAt(file, offset, bytes, count)) return error;
    if (count == 0) return std::make_error_code(std::errc::io_error);
    bytes = bytes.subspan(count);
    offset += count;
  }
  return {};
}

// Writes over `bytes`, which hold the file's bytes from `offset` on, what the replacements
// write there.
void Overlay(std::span<char> bytes, std::uint64_t offset, const Replacements& replacements) {
  const std::uint64_t end = offset + bytes.size();
  for (const Replacement& replacement : replacements) {
    const std::uint64_t from = std::max(offset, replacement.offset);
    const std::uint64_t to = std::min(end, replacement.offset + replacement.image.size());
    if (from >= to) continue;
    std::memcpy(bytes.data() + (from - offset),
                replacement.image.data() + (from - replacement.offset),
                static_cast<std::size_t>(to - from));
  }
}

// Whether a name's unit continues a character begun before it: a byte 10xxxxxx of UTF-8, the
// low half of a UTF-16 surrogate pair.
template <typename Unit>
bool ContinuesCharacter(Unit unit) {
  if constexpr (sizeof(Unit) == 1) {
    return (static_cast<unsigned char>(unit) & 0xC0) == 0x80;
  } else {
    return unit >= 0xDC00 && unit <= 0xDFFF;
  }
}

// Creates a new copy of `target` under a fresh name beside it, trying other names while one
// exists.
std::error_code CreateBeside(FileSystem& files, const std::filesystem::path& target, File& file,
                             std::filesystem::path& name, bool& filled) {
  constexpr int kAttempts = 100;
  std::error_code error;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = NewCopyName(target);
    error = files.CreateCopy(target, name, file, filled);
    if (!AlreadyExists(error)) break;
  }
  return error;
}

}  // namespace

std::filesystem::path NewCopyName(const std::filesystem::path& target) {
  static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::minstd_rand random(static_cast<std::minstd_rand::result_type>(
      std::random_device{}() ^ std::chrono::steady_clock::now().time_since_epoch().count()));
  std::string suffix = ".ombrix-patch-";
  for (int i = 0; i < 6; ++i) suffix += kAlphabet[random() % kAlphabet.size()];
  suffix += ".tmp";

  // A long name is shortened so that the new one still fits the file system's limit, at the
  // start of a character.
  constexpr std::size_t kMaxKept = 200;
  std::filesystem::path::string_type name = target.filename().native();
  if (name.size() > kMaxKept) {
    std::size_t kept = kMaxKept;
    while (kept > 0 && ContinuesCharacter(name[kept])) --kept;
    name.resize(kept);
  }
  std::filesystem::path copy = target.parent_path() / name;
  copy += suffix;
  return copy;
}

bool ProbeTarget(FileSystem& files, const std::filesystem::path& path) noexcept {
  // The system would end the path at a zero character and open another file than the one named.
  if (path.native().find(std::filesystem::path::value_type{}) != path.native().npos) return false;
  File file;
  FileInfo info;
  if (files.OpenForReading(path, file) || files.Query(file, info) || !info.is_regular) {
    return false;
  }
  (void)files.Close(file);
  return true;
}

TargetFile::TargetFile(FileSystem& files, const std::filesystem::path& path)
    : files_(files), path_(path) {
  Require(files_.OpenForReading(path_, file_), "open the file for reading");
  Require(files_.Query(file_, info_), "query the file");
  if (!info_.is_regular) Require(PatchErrc::kNotRegularFile, "read the file");
}

void TargetFile::Require(std::error_code error, const std::string& step) const {
  if (error) throw PatchError(step, path_, error);
}

void TargetFile::RequireFound(std::error_code error, const std::string& step) const {
  // The file was there when it was opened: another program removed or renamed it since.
  if (error == std::errc::no_such_file_or_directory) {
    Require(PatchErrc::kFileRemoved, "write the file");
  }
  Require(error, step);
}

void TargetFile::RequireUnchanged() {
  FileInfo now;
  Require(files_.Query(file_, now), "check the file for changes");
  if (SameFileUnchanged(info_, now)) return;
  FileInfo there;  // or it is gone
  RequireFound(files_.QueryPath(target_, there), "check the file for changes");
  Require(PatchErrc::kFileChanged, "replace the file with the new copy");
}

void TargetFile::Scan(Scanner& scanner, std::size_t buffer_size) {
  const std::size_t keep = scanner.MaxKeep();
  std::unique_ptr<char[]> buffer;
  try {
    buffer.reset(new char[keep + buffer_size]);
  } catch (const std::bad_alloc&) {
    Require(std::make_error_code(std::errc::not_enough_memory),
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
      if (count == 0) Require(PatchErrc::kFileChanged, "read the file");  // it became shorter
    }
    read += count;
    const bool at_end = read == info_.size;
    if (at_end) {
      // One byte more must meet the end: the file did not grow while it was read.
      char extra;
      std::size_t more = 0;
      Require(files_.ReadAt(file_, read, {&extra, 1}, more), "read the file");
      if (more != 0) {
        Require(info_.size == 0 ? PatchErrc::kLengthUntrue : PatchErrc::kFileChanged,
                "read the file");
      }
    }
    scanner.Scan({buffer.get(), kept + count}, read - kept - count, at_end);
    if (at_end || scanner.Done()) return;
    const std::size_t next = scanner.Keep();
    std::memmove(buffer.get(), buffer.get() + kept + count - next, next);
    kept = next;
  }
}

void TargetFile::Write(const Replacements& replacements) {
  RequireFound(files_.ResolveLinks(path_, target_), "follow the symbolic link to the file");
  const std::filesystem::path& target = target_;
  FileInfo now;
  RequireFound(files_.QueryPath(target, now), "query the file");
  if (!SameFileUnchanged(info_, now)) Require(PatchErrc::kFileChanged, "write the file");

  // In a folder that lets files be made but not renamed or removed (append-only), a copy could
  // neither replace the file nor be cleared away.
  if (const std::error_code locked = files_.CheckFolder(target.parent_path())) {
    if (locked != std::errc::operation_not_permitted) Require(locked, "look at the file's folder");
    OverwriteInPlace(target, replacements, locked);
    return;
  }
  File copy;
  std::filesystem::path copy_path;
  bool filled = false;
  if (const std::error_code not_created = CreateBeside(files_, target, copy, copy_path, filled)) {
    OverwriteInPlace(target, replacements, not_created);
    return;
  }
  const CopyCleanup cleanup(copy_path);
  try {
    WriteCopy(target, copy, copy_path, filled, replacements);
  } catch (...) {
    copy = File();  // closed first: Windows removes no open file
    (void)files_.Remove(copy_path);
    throw;
  }
  // The rename is complete by itself; flushing the folder makes it durable sooner. A failure
  // there cannot be undone and leaves the new content in place, so it does not fail the run.
  (void)files_.FlushFolder(target.parent_path());
}

void TargetFile::WriteCopy(const std::filesystem::path& target, File& copy,
                           const std::filesystem::path& copy_path, bool filled,
                           const Replacements& replacements) {
  // The copy would take this process's name as its owner: a file this process may not change
  // is not replaced by one it may.
  Require(files_.CheckWritable(target), "change the file");
  const bool cloned = !filled && FillCopy(copy);
  for (const Replacement& replacement : replacements) {
    Require(WriteAllAt(files_, copy, replacement.offset, replacement.image),
            "write the new copy of the file");
  }
  // After the writes, which would clear a capability, and the owner, which would clear the
  // set-ID bits.
  GiveIdentity(copy);
  Require(files_.Flush(copy), "flush the new copy to the disk");
  // The copy is checked against the file, which must still be as it was read.
  RequireUnchanged();
  VerifyCopy(copy_path, replacements, cloned);
  Require(files_.Close(copy), "close the new copy");

  // Done with the file itself: Windows replaces no file that is held open.
  (void)files_.Close(file_);
  file_ = File();
  // Another program may have changed or replaced the file meanwhile; its change wins.
  FileInfo now;
  RequireFound(files_.QueryPath(target, now), "check the file for changes before replacing it");
  if (!SameFileUnchanged(info_, now)) {
    Require(PatchErrc::kFileChanged, "replace the file with the new copy");
  }
  if (const std::error_code error = files_.Replace(copy_path, target)) {
    Require(error, InUse(error) ? "replace the file, because it is in use by another program"
                                : "replace the file with the new copy");
  }
}

bool TargetFile::FillCopy(const File& copy) {
  const std::string step = "copy the file into the new copy";
  const std::error_code not_cloned = files_.Clone(file_, copy);
  if (!not_cloned) return true;
  if (!NotSupported(not_cloned)) Require(not_cloned, step);
  bool in_kernel = true;
  for (std::uint64_t offset = 0; offset < info_.size;) {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    Require(files_.FindData(file_, offset, info_.size, start, end), step);
    if (start >= info_.size) break;
    if (start < offset || end <= start) Require(PatchErrc::kFileChanged, step);
    CopyStretch(copy, start, end, in_kernel);
    offset = end;
  }
  // The length, with any hole at the end.
  Require(files_.SetSize(copy, info_.size), step);
  return false;
}

void TargetFile::CopyStretch(const File& copy, std::uint64_t start, std::uint64_t end,
                             bool& in_kernel) {
  const std::string step = "copy the file into the new copy";
  std::unique_ptr<char[]> chunk;
  for (std::uint64_t at = start; at < end;) {
    if (in_kernel) {
      std::uint64_t copied = 0;
      const std::error_code error = files_.CopyRange(file_, copy, at, end - at, copied);
      if (!error) {
        if (copied == 0) Require(PatchErrc::kFileChanged, step);  // it became shorter
        at += copied;
        continue;
      }
      if (!NotSupported(error)) Require(error, step);
      in_kernel = false;
    }
    if (!chunk) chunk.reset(new char[kChunk]);
    const std::span<char> part(chunk.get(),
                               static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, end - at)));
    Require(ReadAllAt(files_, file_, at, part), step);
    Require(WriteAllAt(files_, copy, at, part), step);
    at += part.size();
  }
}

void TargetFile::GiveIdentity(const File& copy) {
  std::vector<FileAttribute> identity;
  std::vector<FileAttribute> taken;
  Require(files_.ReadIdentity(file_, identity), "read the file's attributes");
  Require(files_.ReadIdentity(copy, taken), "read the new copy's attributes");
  // What the new copy took from its folder (a default ACL, say) and the file does not have.
  for (const FileAttribute& attribute : taken) {
    const bool kept = std::any_of(identity.begin(), identity.end(), [&](const FileAttribute& own) {
      return own.name == attribute.name;
    });
    if (!kept) {
      Require(files_.RemoveAttribute(copy, attribute.name),
              "remove from the new copy the " + attribute.name + " it took from its folder");
    }
  }
  for (const FileAttribute& attribute : identity) {
    const std::error_code error = files_.SetAttribute(copy, attribute);
    if (error && attribute.required)
      Require(error, "give the new copy the file's " + attribute.name);
  }
}

void TargetFile::GiveBack(const File& file, const std::vector<FileAttribute>& identity) {
  std::vector<FileAttribute> now;
  if (files_.ReadIdentity(file, now)) return;
  bool given = false;
  for (const FileAttribute& attribute : identity) {
    const bool kept = std::any_of(now.begin(), now.end(), [&](const FileAttribute& present) {
      return present.name == attribute.name && present.value == attribute.value;
    });
    // Where the process may not (an ordinary user and a capability), it stays cleared, as it
    // would after any program's write.
    if (!kept) given = !files_.SetAttribute(file, attribute) || given;
  }
  if (given) (void)files_.Flush(file);
}

void TargetFile::VerifyCopy(const std::filesystem::path& copy_path,
                            const Replacements& replacements, bool cloned) {
  const std::string step = "read back the new copy of the file";
  File copy;
  Require(files_.OpenForVerifying(copy_path, copy), step);
  AlignedChunk stored;
  std::unique_ptr<char[]> meant(new char[kChunk]);
  // Compares what the disk holds of [from, to) with the file's bytes there, changed by the
  // replacements. REQUIRES: `from` aligned, `to` - `from` at most a chunk.
  const auto compare = [&](std::uint64_t from, std::uint64_t to) {
    const auto length = static_cast<std::size_t>(to - from);
    const std::size_t aligned =
        (length + kVerifyAlignment - 1) / kVerifyAlignment * kVerifyAlignment;
    std::size_t count = 0;
    Require(ReadAt(files_, copy, from, stored.span(aligned), length, count), step);
    if (count < length) Require(PatchErrc::kFileChanged, step);
    const std::span<char> expected(meant.get(), length);
    Require(ReadAllAt(files_, file_, from, expected), step);
    Overlay(expected, from, replacements);
    if (!std::equal(expected.begin(), expected.end(), stored.span(length).begin())) {
      RequireUnchanged();  // the difference may be another program's change to the file
      Require(PatchErrc::kCopyDiffers, step);
    }
  };
  const auto compare_stretch = [&](std::uint64_t start, std::uint64_t end) {
    for (std::uint64_t at = start / kVerifyAlignment * kVerifyAlignment; at < end; at += kChunk) {
      compare(at, std::min(at + kChunk, end));
    }
  };
  for (const Replacement& replacement : replacements) {
    compare_stretch(replacement.offset, replacement.offset + replacement.image.size());
  }
  // A clone shares the file's blocks: only the written ranges are its own. A copy holds the
  // file's data; its holes hold nothing that the disk could have got wrong.
  for (std::uint64_t offset = 0; !cloned && offset < info_.size;) {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    Require(files_.FindData(file_, offset, info_.size, start, end), step);
    if (start >= info_.size) break;
    if (start < offset || end <= start) Require(PatchErrc::kFileChanged, step);
    compare_stretch(start, end);
    offset = end;
  }
  (void)files_.Close(copy);
}

void TargetFile::OverwriteInPlace(const std::filesystem::path& target,
                                  const Replacements& replacements, std::error_code not_created) {
  File file;
  if (const std::error_code error = files_.OpenForWriting(target, file)) {
    if (InUse(error)) Require(error, "write the file, because it is in use by another program");
    // It was there a moment ago: another program removed or renamed it since.
    if (error == std::errc::no_such_file_or_directory) {
      Require(PatchErrc::kFileRemoved, "write the file");
    }
    Require(not_created, "create a new copy of the file in its folder");
  }
  FileInfo info;
  Require(files_.Query(file, info), "query the file");
  if (!SameFileUnchanged(info_, info))
    Require(PatchErrc::kFileChanged, "overwrite the file in place");

  // A write makes the kernel clear a capability (and, for an ordinary user, the set-ID bits):
  // they are given back afterwards.
  std::vector<FileAttribute> identity;
  Require(files_.ReadIdentity(file, identity), "read the file's attributes");
  std::vector<std::string> old_bytes;
  for (const Replacement& replacement : replacements) {
    std::string& bytes = old_bytes.emplace_back(replacement.image.size(), '\0');
    Require(ReadAllAt(files_, file, replacement.offset, bytes), "read the file");
  }
  std::size_t touched = 0;  // replacements written, or partly written
  std::error_code error;
  while (!error && touched < replacements.size()) {
    const Replacement& replacement = replacements[touched++];
    error = WriteAllAt(files_, file, replacement.offset, replacement.image);
  }
  if (!error) error = files_.Flush(file);
  if (!error) {
    try {
      GiveBack(file, identity);
    } catch (const std::bad_alloc&) {
      // The new bytes are on the disk: what is given back is given back where it can be.
    }
    // The data is on the disk; a failure to close loses nothing.
    (void)files_.Close(file);
    return;
  }
  // Put back what was there, then look: what counts is what the file holds now.
  for (std::size_t i = 0; i < touched; ++i) {
    (void)WriteAllAt(files_, file, replacements[i].offset, old_bytes[i]);
  }
  (void)files_.Flush(file);
  bool unchanged = true;
  for (std::size_t i = 0; i < touched && unchanged; ++i) {
    std::string now(old_bytes[i].size(), '\0');
    unchanged = !ReadAllAt(files_, file, replacements[i].offset, now) && now == old_bytes[i];
  }
  throw PatchError("overwrite the file in place", path_, error,
                   unchanged ? TargetState::kUnchanged : TargetState::kMayBeDamaged);
}

}  // namespace ombrix
