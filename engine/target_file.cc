#include "engine/target_file.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "engine/file_faults.h"
#include "engine/os_file.h"
#include "engine/patch_error.h"

namespace ombrix {
namespace {

// Makes a file-system call, unless the fault hook wants this one to fail.
template <typename Call>
std::error_code Make(FileCall which, Call call) {
  if (FileFaultInjected(which)) return std::make_error_code(std::errc::io_error);
  return call();
}

void Require(std::error_code error, const std::string& step, const std::filesystem::path& path) {
  if (error) throw PatchError(step, path, error);
}

// Reads until `bytes` is full; running into the end of the file first is an error.
std::error_code ReadAllAt(const os::File& file, std::uint64_t offset, std::span<char> bytes) {
  while (!bytes.empty()) {
    std::size_t count = 0;
    if (const std::error_code error =
            Make(FileCall::kRead, [&] { return os::ReadAt(file, offset, bytes, count); })) {
      return error;
    }
    if (count == 0) return PatchErrc::kFileChanged;
    bytes = bytes.subspan(count);
    offset += count;
  }
  return {};
}

std::error_code WriteAll(const os::File& file, std::span<const char> bytes) {
  while (!bytes.empty()) {
    std::size_t count = 0;
    if (const std::error_code error =
            Make(FileCall::kWrite, [&] { return os::WriteSome(file, bytes, count); })) {
      return error;
    }
    if (count == 0) return std::make_error_code(std::errc::io_error);
    bytes = bytes.subspan(count);
  }
  return {};
}

std::error_code WriteAllAt(const os::File& file, std::uint64_t offset,
                           std::span<const char> bytes) {
  while (!bytes.empty()) {
    std::size_t count = 0;
    if (const std::error_code error =
            Make(FileCall::kWrite, [&] { return os::WriteAt(file, offset, bytes, count); })) {
      return error;
    }
    if (count == 0) return std::make_error_code(std::errc::io_error);
    bytes = bytes.subspan(count);
    offset += count;
  }
  return {};
}

// Reads the new copy back and compares it with what was written, a chunk at a time.
std::error_code VerifyCopy(const os::File& file, std::span<const char> content) {
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  const std::unique_ptr<char[]> chunk =
      std::make_unique_for_overwrite<char[]>(std::min(kChunk, content.size()));
  for (std::size_t offset = 0; offset < content.size(); offset += kChunk) {
    const std::span<const char> expected =
        content.subspan(offset, std::min(kChunk, content.size() - offset));
    const std::span<char> actual(chunk.get(), expected.size());
    if (const std::error_code error = ReadAllAt(file, offset, actual)) return error;
    if (!std::equal(actual.begin(), actual.end(), expected.begin())) {
      return PatchErrc::kCopyDiffers;
    }
  }
  return {};
}

FileBuffer AllocateFor(const os::FileInfo& info, const std::filesystem::path& path) {
  const std::string step = "hold the file in memory (" + std::to_string(info.size) + " bytes)";
  const auto out_of_memory = std::make_error_code(std::errc::not_enough_memory);
  if (info.size > std::numeric_limits<std::size_t>::max()) {
    throw PatchError(step, path, out_of_memory);
  }
  try {
    return FileBuffer(static_cast<std::size_t>(info.size), info.modified);
  } catch (const std::bad_alloc&) {
    throw PatchError(step, path, out_of_memory);
  }
}

// Whether the file described by `now` is no longer the one `content` was read from.
bool ChangedSinceRead(const os::FileInfo& now, const FileBuffer& content) {
  return !now.is_regular || now.size != content.bytes().size() ||
         now.modified != content.modified();
}

// Creates a new file under a fresh name beside `target`, trying other names while one exists.
std::error_code CreateBeside(const std::filesystem::path& target, const os::FileInfo& like,
                             os::File& file, std::filesystem::path& name) {
  constexpr int kAttempts = 100;
  std::error_code error;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = NewCopyName(target);
    error = Make(FileCall::kCreateNew, [&] { return os::CreateNew(name, like, file); });
    if (!os::AlreadyExists(error)) break;
  }
  return error;
}

// Writes `changed` of `content` over the file itself, for a folder where no new file can be
// made. Should a write or the flush fail, the bytes that were there are put back.
void OverwriteInPlace(const std::filesystem::path& path, const std::filesystem::path& target,
                      const FileBuffer& buffer, std::span<const ByteRange> changed,
                      std::error_code not_created) {
  const std::span<const char> content = buffer.bytes();
  os::File file;
  if (const std::error_code error =
          Make(FileCall::kOpenForWriting, [&] { return os::OpenForWriting(target, file); })) {
    if (os::InUse(error)) {
      throw PatchError("write the file, because it is in use by a running program", path, error);
    }
    throw PatchError("create a new copy of the file in its folder", path, not_created);
  }
  os::FileInfo info;
  Require(Make(FileCall::kQueryFile, [&] { return os::Query(file, info); }), "query the file",
          path);
  if (ChangedSinceRead(info, buffer)) {
    throw PatchError("overwrite the file in place", path, PatchErrc::kFileChanged);
  }

  std::vector<std::string> old_bytes;
  for (const ByteRange& range : changed) {
    std::string& bytes = old_bytes.emplace_back(range.length, '\0');
    Require(ReadAllAt(file, range.offset, bytes), "read the file", path);
  }

  std::size_t touched = 0;  // ranges written, or partly written
  std::error_code error;
  while (!error && touched < changed.size()) {
    const ByteRange& range = changed[touched++];
    error = WriteAllAt(file, range.offset, content.subspan(range.offset, range.length));
  }
  if (!error) error = Make(FileCall::kFlush, [&] { return os::Flush(file); });
  if (error) {
    bool restored = true;
    for (std::size_t i = 0; i < touched; ++i) {
      restored = !WriteAllAt(file, changed[i].offset, old_bytes[i]) && restored;
    }
    restored = restored && !Make(FileCall::kFlush, [&] { return os::Flush(file); });
    throw PatchError("overwrite the file in place", path, error,
                     restored ? TargetState::kUnchanged : TargetState::kMayBeDamaged);
  }
  // The data is on the disk; a failure to close loses nothing.
  (void)Make(FileCall::kClose, [&] { return os::Close(file); });
}

}  // namespace

FileBuffer::FileBuffer(std::size_t size, std::uint64_t modified)
    : data_(std::make_unique_for_overwrite<char[]>(size)), size_(size), modified_(modified) {}

std::filesystem::path NewCopyName(const std::filesystem::path& target) {
  static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::minstd_rand random(static_cast<std::minstd_rand::result_type>(
      std::random_device{}() ^ std::chrono::steady_clock::now().time_since_epoch().count()));
  std::string suffix = ".ombrix-patch-";
  for (int i = 0; i < 6; ++i) suffix += kAlphabet[random() % kAlphabet.size()];
  suffix += ".tmp";

  // A long name is shortened so that the new one still fits the file system's limit.
  constexpr std::size_t kMaxKept = 200;
  std::filesystem::path::string_type name = target.filename().native();
  if (name.size() > kMaxKept) name.resize(kMaxKept);
  std::filesystem::path copy = target.parent_path() / name;
  copy += suffix;
  return copy;
}

bool ProbeTarget(const std::filesystem::path& path) noexcept {
  // The system would end the path at a zero character and open another file than the one named.
  if (path.native().find(std::filesystem::path::value_type{}) != path.native().npos) return false;
  os::File file;
  os::FileInfo info;
  if (Make(FileCall::kOpenForReading, [&] { return os::OpenForReading(path, file); }) ||
      Make(FileCall::kQueryFile, [&] { return os::Query(file, info); }) || !info.is_regular) {
    return false;
  }
  (void)Make(FileCall::kClose, [&] { return os::Close(file); });
  return true;
}

FileBuffer ReadTarget(const std::filesystem::path& path, const ReadProgress& progress) {
  os::File file;
  Require(Make(FileCall::kOpenForReading, [&] { return os::OpenForReading(path, file); }),
          "open the file for reading", path);
  os::FileInfo info;
  Require(Make(FileCall::kQueryFile, [&] { return os::Query(file, info); }), "query the file",
          path);
  if (!info.is_regular) throw PatchError("read the file", path, PatchErrc::kNotRegularFile);

  // A megabyte at a time, so that `progress` sees each part while it is still in the cache.
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  FileBuffer buffer = AllocateFor(info, path);
  const std::span<char> bytes = buffer.bytes();
  for (std::size_t filled = 0; filled < bytes.size();) {
    const std::span<char> chunk = bytes.subspan(filled, std::min(kChunk, bytes.size() - filled));
    std::size_t count = 0;
    Require(Make(FileCall::kRead, [&] { return os::ReadSome(file, chunk, count); }),
            "read the file", path);
    if (count == 0) throw PatchError("read the file", path, PatchErrc::kFileChanged);
    filled += count;
    if (progress) progress(bytes.first(filled));
  }
  // One byte more must meet the end: the file did not grow while it was read.
  char extra;
  std::size_t count = 0;
  Require(Make(FileCall::kRead,
               [&] {
                 return os::ReadSome(file, {&extra, 1}, count);
               }),
          "read the file", path);
  if (count != 0) throw PatchError("read the file", path, PatchErrc::kFileChanged);
  // Nothing was written through this file; a failure to close it loses nothing.
  (void)Make(FileCall::kClose, [&] { return os::Close(file); });
  return buffer;
}

void WriteTarget(const std::filesystem::path& path, const FileBuffer& buffer,
                 std::span<const ByteRange> changed) {
  const std::span<const char> content = buffer.bytes();
  std::filesystem::path target;
  Require(Make(FileCall::kResolveLinks, [&] { return os::ResolveLinks(path, target); }),
          "follow the symbolic link to the file", path);
  os::FileInfo info;
  Require(Make(FileCall::kQueryFile, [&] { return os::QueryPath(target, info); }), "query the file",
          path);
  if (ChangedSinceRead(info, buffer)) {
    throw PatchError("write the file", path, PatchErrc::kFileChanged);
  }

  os::File copy;
  std::filesystem::path copy_path;
  if (const std::error_code not_created = CreateBeside(target, info, copy, copy_path)) {
    OverwriteInPlace(path, target, buffer, changed, not_created);
    return;
  }
  try {
    Require(WriteAll(copy, content), "write the new copy of the file", path);
    Require(Make(FileCall::kCopyPermissions, [&] { return os::CopyPermissions(copy, info); }),
            "give the new copy the file's permissions", path);
    Require(Make(FileCall::kFlush, [&] { return os::Flush(copy); }),
            "flush the new copy to the disk", path);
    Require(VerifyCopy(copy, content), "read back the new copy of the file", path);
    Require(Make(FileCall::kClose, [&] { return os::Close(copy); }), "close the new copy", path);
    // Another program may have changed the target while the copy was written; its change wins.
    os::FileInfo now;
    Require(Make(FileCall::kQueryFile, [&] { return os::QueryPath(target, now); }),
            "check the file for changes before replacing it", path);
    if (ChangedSinceRead(now, buffer)) {
      throw PatchError("replace the file with the new copy", path, PatchErrc::kFileChanged);
    }
    if (const std::error_code error =
            Make(FileCall::kReplace, [&] { return os::Replace(copy_path, target); })) {
      throw PatchError(os::InUse(error)
                           ? "replace the file, because it is in use by a running program"
                           : "replace the file with the new copy",
                       path, error);
    }
  } catch (...) {
    copy = os::File();  // closed first: Windows removes no open file
    (void)os::Remove(copy_path);
    throw;
  }
  // The rename is complete by itself; flushing the folder makes it durable sooner. A failure
  // there cannot be undone and leaves the new content in place, so it does not fail the run.
  (void)Make(FileCall::kFlushFolder, [&] { return os::FlushFolder(target.parent_path()); });
}

}  // namespace ombrix
