#include "engine/run/target_file.h"

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "engine/platform/file_transfer.h"
#include "engine/platform/interrupt_cleanup.h"
#include "engine/run/copy_check.h"
#include "engine/run/file_identity.h"

namespace ombrix {
namespace {

// Why the write in place may take over from a new copy that failed, having changed nothing:
// the disk had no room for the copy, the folder refused it, or the copy refused the file's
// identity. None where the run stops.
std::optional<InPlaceReason> InPlaceInstead(const Failure& failure) {
  // Every step before the rename concerns the copy alone, and a write in place needs no room.
  if (failure.code == std::errc::no_space_on_device && failure.step != Step::kReplace) {
    return InPlaceReason::kNoRoom;
  }
  switch (failure.step) {
    case Step::kCreateCopy:
      // Not where the file itself changed meanwhile: the run stops.
      if (failure.code.category() == PatchCategory()) return std::nullopt;
      return InPlaceReason::kCopyRefused;
    case Step::kReadIdentity:
    case Step::kReadCopyIdentity:
    case Step::kRemoveFromCopy:
    case Step::kGiveCopy:
      if (!NotPermitted(failure.code) && failure.code != PatchErrc::kNotKept) return std::nullopt;
      return InPlaceReason::kCopyRefused;
    default:
      return std::nullopt;
  }
}

// Where neither way of writing keeps the file as it is.
Failure NotKept(const WriteAccess& access) {
  Failure failure = Fail(PatchErrc::kNotKept, Step::kKeepAsItIs);
  failure.access = access;
  return failure;
}

// The target as a scan reads it, through the file system.
class TargetSource final : public ScanSource {
 public:
  TargetSource(FileSystem& files, const Target& target) : files_(files), target_(target) {}

  std::error_code FindData(std::uint64_t offset, std::uint64_t& start,
                           std::uint64_t& end) override {
    return FindDataAfter(files_, target_.file, offset, target_.info.size, start, end);
  }
  std::error_code Read(std::uint64_t offset, std::span<char> bytes) override {
    return ReadAllAt(files_, target_.file, offset, bytes);  // kFileChanged where it is shorter
  }
  std::error_code CheckEnd() override {
    // One byte more must meet the end: the file did not grow while it was read.
    char extra;
    std::size_t more = 0;
    const std::uint64_t size = target_.info.size;
    if (const std::error_code error = files_.ReadAt(target_.file, size, {&extra, 1}, more)) {
      return error;
    }
    if (more == 0) return {};
    return size == 0 ? PatchErrc::kLengthUntrue : PatchErrc::kFileChanged;
  }

 private:
  FileSystem& files_;
  const Target& target_;
};

}  // namespace

std::error_code WhyNotATarget(FileSystem& files, const std::filesystem::path& path) {
  return TargetFile(files, path).Open().code;
}

TargetFile::TargetFile(FileSystem& files, const std::filesystem::path& path, UndoStore& undo)
    : files_(files), undo_(undo), path_(path) {}

bool TargetFile::CutShort::unfinished() const {
  if (identity != record.identity) return true;
  bool before = true;
  bool after = true;
  for (std::size_t i = 0; i < now.size(); ++i) {
    before = before && now[i] == record.ranges[i].before;
    after = after && now[i] == record.ranges[i].after;
  }
  return !before && !after;
}

std::optional<TargetFile::CutShort> TargetFile::FindUndoRecord() {
  const std::optional<std::string> kept = undo_.Load(UndoKey(target_.info));
  if (!kept) return std::nullopt;
  CutShort found;
  std::optional<UndoRecord> record = Decode(*kept);
  if (!record || files_.ReadIdentity(target_.file, found.identity)) return std::nullopt;
  found.record = std::move(*record);
  for (const UndoRange& range : found.record.ranges) {
    std::string& bytes = found.now.emplace_back(range.before.size(), '\0');
    if (range.offset > target_.info.size || bytes.size() > target_.info.size - range.offset ||
        ReadAllAt(files_, target_.file, range.offset, bytes)) {
      return std::nullopt;
    }
  }
  if (!RecordFits(found.record, RecordPath(), target_.info, found.identity, found.now)) {
    return std::nullopt;
  }
  return found;
}

std::string TargetFile::RecordPath() const {
  // Links followed, whichever of its names the run was given.
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::weakly_canonical(path_, error);
  if (error) absolute = std::filesystem::absolute(path_, error).lexically_normal();
  const std::u8string path = absolute.u8string();
  return {path.begin(), path.end()};
}

Failure TargetFile::Finish(const Replacements& replacements, const CutShort& found,
                           Written& written) {
  WriteAccess access;
  if (Failure failure = Prepare(access)) return failure;
  if (!access.in_place_keeps()) return NotKept(access);
  if (Failure failure = WriteInPlace(replacements, {}, &found.record)) return failure;
  written = Written{WriteWay::kInPlace, InPlaceReason::kCutShort, access, {}};
  return {};
}

Failure TargetFile::Open() {
  // The system would end the path at a zero character and open another file than the one named.
  if (path_.native().find(std::filesystem::path::value_type{}) != path_.native().npos) {
    return Fail(std::make_error_code(std::errc::invalid_argument), Step::kOpen);
  }
  const std::error_code error = files_.Open(path_, target_);
  if (!error && target_.info.is_regular) return {};
  // A folder opens for reading on Linux and is refused with "access denied" on Windows: either
  // way the reason worth giving is that it is a folder.
  std::error_code ignored;
  if (std::filesystem::is_directory(path_, ignored)) {
    return Fail(std::make_error_code(std::errc::is_a_directory), Step::kOpen);
  }
  return Fail(error ? error : make_error_code(PatchErrc::kNotRegularFile), Step::kOpen);
}

Failure TargetFile::CheckUnchanged(Step step) {
  const std::error_code error = files_.CheckUnchanged(target_, folder_);
  if (error == PatchErrc::kFileRemoved || error == PatchErrc::kFileChanged) {
    return Fail(error, step);
  }
  return Fail(error, Step::kCheckForChanges);
}

Failure TargetFile::Scan(Scanner& scanner, std::size_t buffer_size) {
  const std::size_t keep = scanner.MaxKeep();
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[keep + buffer_size]);
  if (!buffer) {
    Failure failure = Fail(std::make_error_code(std::errc::not_enough_memory), Step::kHoldBuffer);
    failure.detail = std::to_string(keep + buffer_size);
    return failure;
  }
  TargetSource source(files_, target_);
  return Fail(ScanData(source, target_.info.size, scanner, {buffer.get(), keep + buffer_size}),
              Step::kRead);
}

Failure TargetFile::Prepare(WriteAccess& access) {
  if (const std::error_code error = files_.OpenFolder(path_, target_.file, folder_)) {
    return Fail(error, Step::kFindInFolder);
  }
  if (Failure failure = CheckUnchanged(Step::kBeginWriting)) return failure;
  if (const std::error_code error = files_.Assess(target_.file, folder_, access)) {
    return Fail(error, Step::kAssess);
  }
  return Fail(access.refused, Step::kChange);
}

Failure TargetFile::WhyNotWritable() {
  WriteAccess access;
  if (Failure failure = Prepare(access)) return failure;
  if (access.copy_keeps() || access.in_place_keeps()) return {};
  return NotKept(access);
}

Failure TargetFile::Write(const Replacements& replacements, Written& written) {
  WriteAccess access;
  if (Failure failure = Prepare(access)) return failure;
  Written way{WriteWay::kInPlace, InPlaceReason::kCopyWouldNotKeep, access, {}};
  if (access.copy_keeps()) {
    NewCopy copy;
    Failure failure;
    try {
      failure = WriteNewCopy(replacements, copy);
    } catch (...) {  // no memory: nothing may be left behind
      if (copy.file.is_open()) (void)files_.Remove(folder_, copy);
      throw;
    }
    if (!failure) {
      written = Written{};
      return {};
    }
    // Whatever became of the run, its copy goes; the folder keeps no trace of it.
    bool removed = !copy.left;
    if (copy.left) {
      failure.copy_left = copy.name;
      failure.copy_left_reason = copy.left;
    }
    if (copy.file.is_open()) {
      const std::error_code left = files_.Remove(folder_, copy);
      removed = !left;
      // A copy that is no longer the run's, or no longer there, is not the run's to mention.
      if (left && left != PatchErrc::kCopyReplaced &&
          left != std::errc::no_such_file_or_directory) {
        failure.copy_left = copy.name;
        failure.copy_left_reason = left;
      }
    }
    const std::optional<InPlaceReason> why = InPlaceInstead(failure);
    if (!access.in_place_keeps() || !removed || !why) return failure;
    way.why = *why;
    way.not_copied = failure;
  } else if (!access.in_place_keeps()) {
    return NotKept(access);
  }
  if (Failure failure = WriteInPlace(replacements, way.not_copied)) return failure;
  written = way;
  return {};
}

Failure TargetFile::WriteNewCopy(const Replacements& replacements, NewCopy& copy) {
  if (const std::error_code error =
          files_.MakeCopy(folder_, target_.file, target_.info.size, copy)) {
    return Fail(error, copy.created ? Step::kFillCopy : Step::kCreateCopy);
  }
  for (const Replacement& replacement : replacements) {
    if (const std::error_code error =
            WriteAllAt(files_, copy.file, replacement.offset, replacement.image)) {
      return Fail(error, Step::kWriteCopy);
    }
  }
  // After the writes, which would clear a capability, and the owner, which would clear the
  // set-ID bits.
  if (Failure failure = GiveIdentity(files_, target_.file, copy.file)) return failure;
  if (const std::error_code error = files_.Flush(copy.file)) return Fail(error, Step::kFlushCopy);
  return CheckAndReplace(replacements, copy);
}

Failure TargetFile::CheckAndReplace(const Replacements& replacements, NewCopy& copy) {
  // The copy is checked against the file, which must still be as it was read.
  if (Failure failure = CheckUnchanged(Step::kReplace)) return failure;
  File reader;
  if (const std::error_code error = files_.OpenForVerifying(copy, reader)) {
    return Fail(error, Step::kReadBack);
  }
  const std::error_code differs =
      CheckCopy(files_, target_.file, reader, target_.info.size, replacements, copy.kind);
  // The difference may be another program's change to the file rather than the disk's.
  if (differs == PatchErrc::kCopyDiffers) {
    if (Failure failure = CheckUnchanged(Step::kReadBack)) return failure;
  }
  if (differs) return Fail(differs, Step::kReadBack);
  (void)files_.Close(reader);

  // Done with the file itself: Windows replaces no file that is held open.
  (void)files_.Close(target_.file);
  // Another program may have changed or replaced the file meanwhile; its change wins.
  if (Failure failure = CheckUnchanged(Step::kReplace)) return failure;
  return Fail(files_.Replace(folder_, copy), Step::kReplace);
}

Failure TargetFile::WriteInPlace(const Replacements& replacements, const Failure& not_copied,
                                 const UndoRecord* was) {
  File file;
  if (const std::error_code error = files_.OpenForWriting(target_, folder_, file)) {
    // The copy's reason is the one worth giving where this open failed only for lack of rights.
    if (not_copied && !InUse(error) && error.category() != PatchCategory()) return not_copied;
    return Fail(error, Step::kOpenForWriting);
  }
  if (Failure failure = CheckUnchanged(Step::kWriteInPlace)) return failure;

  // A write makes the kernel clear a capability (and, for an ordinary user, the set-ID bits):
  // they are given back afterwards.
  Identity identity;
  if (const std::error_code error = files_.ReadIdentity(file, identity)) {
    return Fail(error, Step::kReadIdentity);
  }
  // Finishing a write cut short, its record stands as it was: the bytes and the identity before it.
  if (was != nullptr) identity = was->identity;
  std::vector<SavedBytes> saved;
  UndoRecord record{RecordPath(), target_.info.device, target_.info.index, target_.info.size, {},
                    identity};
  for (const Replacement& replacement : replacements) {
    SavedBytes& old = saved.emplace_back();
    old.offset = replacement.offset;
    old.bytes.resize(replacement.image.size());
    if (const std::error_code error = ReadAllAt(files_, file, old.offset, old.bytes)) {
      return Fail(error, Step::kRead);
    }
    record.ranges.push_back(
        {replacement.pair, old.offset, old.bytes, std::string(replacement.image)});
  }
  if (was != nullptr) record = *was;
  // Kept where this user keeps state, so that whatever cuts the writes short (a kill, a power
  // cut), the next run can finish or undo them, identity included. Where it cannot be kept (no
  // home folder), the write goes on: a text cut short is still known by its bytes.
  const std::string key = UndoKey(target_.info);
  (void)undo_.Save(key, Encode(record));
  Failure failure;
  {
    // Until the writes are done or undone, and no longer: the file is closed after it.
    const InPlaceUndo undo_on_interrupt(file, saved, identity);
    std::size_t touched = 0;  // replacements written, or partly written
    std::error_code error;
    while (!error && touched < replacements.size()) {
      const Replacement& replacement = replacements[touched++];
      error = WriteAllAt(files_, file, replacement.offset, replacement.image);
    }
    if (!error) error = files_.Flush(file);
    failure = Fail(error, Step::kWriteInPlace);
    // The new bytes are on the disk: what the writes cleared is given back (this user may, as
    // was found out before the first write).
    if (!failure) failure = GiveBack(files_, file, identity);
    if (failure) {
      // Put back what was there, bytes and identity, then look: what counts is what the file
      // holds now.
      for (std::size_t i = 0; i < touched; ++i) {
        (void)WriteAllAt(files_, file, saved[i].offset, saved[i].bytes);
      }
      (void)files_.Flush(file);
      bool unchanged = !GiveBack(files_, file, identity);
      for (std::size_t i = 0; i < touched && unchanged; ++i) {
        std::string now(saved[i].bytes.size(), '\0');
        unchanged = !ReadAllAt(files_, file, saved[i].offset, now) && now == saved[i].bytes;
      }
      if (!unchanged) failure.target = TargetState::kMayBeDamaged;
    }
  }
  // A file whole, or left as it was before a write of its own, needs no record; one that may be
  // damaged, or is still as a write cut short left it, keeps it.
  if (!failure || (was == nullptr && failure.target == TargetState::kUnchanged)) {
    (void)undo_.Remove(key);
  }
  if (failure) return failure;
  // The file was written by its descriptor: its name must still hold it, or the file now at
  // the path is another, which this run did not patch.
  target_.written_by_run = true;
  const std::error_code named = files_.CheckUnchanged(target_, folder_);
  if (named == PatchErrc::kFileRemoved || named == PatchErrc::kFileChanged) {
    return Fail(named, Step::kStillNamed);
  }
  (void)files_.Close(file);
  return {};
}

}  // namespace ombrix
