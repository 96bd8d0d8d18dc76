// Reading a target file once, part by part, and changing its content without ever losing it or
// anything else about it. The way is chosen from what it keeps: a new copy of the file beside
// it, with the run's few ranges written over it, given the file's whole identity and checked
// against what the disk holds, then renamed over the file in one atomic step, where this user
// can give a new file all the file has; else the ranges written over the file in place, undone
// should that fail; else no change, and a failure that says what stood in the way. Every call
// goes through a FileSystem.
#ifndef OMBRIX_ENGINE_RUN_TARGET_FILE_H_
#define OMBRIX_ENGINE_RUN_TARGET_FILE_H_

#include <cstddef>
#include <filesystem>
#include <system_error>

#include "engine/platform/file_system.h"
#include "engine/platform/undo_store.h"
#include "engine/run/failure.h"
#include "engine/run/undo_record.h"
#include "engine/search/patch_images.h"
#include "engine/search/stream_scan.h"

namespace ombrix {

// The size of the buffer through which a run reads a target, unless told otherwise.
inline constexpr std::size_t kReadBufferSize = std::size_t{256} << 10;

// How a completed write changed the file, and why that way.
enum class WriteWay {
  kNewCopy,  // a new copy renamed over the file
  kInPlace,  // the ranges written over the file in place
};
enum class InPlaceReason {
  kCopyWouldNotKeep,  // a new copy would not keep the file as it is (`access` says why)
  kNoRoom,            // the disk had no room for a new copy (`not_copied`)
  kCopyRefused,       // the folder or the copy refused it (`not_copied`: the step and reason)
  kCutShort,          // it finished a write in place that was cut short (an undo record)
};
struct Written {
  WriteWay way = WriteWay::kNewCopy;
  // With kInPlace:
  InPlaceReason why = InPlaceReason::kCopyWouldNotKeep;
  WriteAccess access;  // what the assessment found
  Failure not_copied;  // the new copy's failure, removed again before the write in place
};

// Why `path` is no target, in the system's words (TargetFile::Open's reason); none where it opens
// for reading as a regular file once links are followed.
std::error_code WhyNotATarget(FileSystem& files, const std::filesystem::path& path);

// A target file, open for one run. Each step answers with a Failure, empty on success; the file
// then holds its old bytes, unless the failure says otherwise (a write in place whose undoing
// failed too), and no copy is left behind. A file that another program changed or replaced
// since it was opened is left as that program made it, and the failure says so.
class TargetFile {
 public:
  // `undo` keeps the undo record of a write in place while it lasts.
  TargetFile(FileSystem& files, const std::filesystem::path& path,
             UndoStore& undo = RealUndoStore());

  // Opens the file at `path` for reading: the run's probe. Fails with the system's reason where
  // the path does not open for reading (no such file, permission denied),
  // std::errc::is_a_directory for a folder, PatchErrc::kNotRegularFile for anything else that
  // is not a regular file, and std::errc::invalid_argument for a path with a zero character.
  // Never blocks and never creates anything.
  Failure Open();

  // Reads the file from its start through a buffer of `buffer_size` bytes (and the few bytes
  // the scanner keeps from one part for the next), handing each part to `scanner`, until the
  // file ends or the scanner is done; of its holes, only the edges that an image could share
  // (ScanData). Fails where reading fails or the file ends before its length, or goes on past it.
  Failure Scan(Scanner& scanner, std::size_t buffer_size = kReadBufferSize);

  // The failure that Write would meet before writing anything, because of who this user is or
  // what the file is: no permission, an immutable file, an identity no way of writing keeps.
  // Writes nothing.
  Failure WhyNotWritable();

  // Makes the file (the file a symbolic link points to, for a link) hold its bytes with
  // `replacements` written over them, in order, and keep its owner, group, permissions,
  // attributes and flags. Where it succeeds, `written` says which way and why.
  Failure Write(const Replacements& replacements, Written& written);

  // The undo record of a write in place of this file that was cut short, where one was kept and
  // fits the file as it is now (RecordFits), with the file's ranges and identity now.
  struct CutShort {
    UndoRecord record;
    std::vector<std::string> now;  // each range's bytes
    Identity identity;
    // Whether the write was cut short, rather than the record left after it ended or before it
    // began: the identity differs, or the ranges are neither all before nor all after.
    bool unfinished() const;
  };
  std::optional<CutShort> FindUndoRecord();
  // Writes `replacements` in place, as the write that `found` tells of would have, and gives the
  // file back its identity before it; then forgets the record.
  Failure Finish(const Replacements& replacements, const CutShort& found, Written& written);
  const std::filesystem::path& path() const { return path_; }
  // Where the undo records lie.
  std::filesystem::path UndoFolder() const { return undo_.Where(); }

 private:
  // Fails with kFileRemoved or kFileChanged, as `step`, where the target's name no longer holds
  // the file as it was opened, or another program wrote to it since.
  Failure CheckUnchanged(Step step);
  // Opens the file's folder and finds out what this user may do.
  Failure Prepare(WriteAccess& access);
  Failure WriteNewCopy(const Replacements& replacements, NewCopy& copy);
  Failure CheckAndReplace(const Replacements& replacements, NewCopy& copy);
  // `not_copied` is why no new copy was made, if one was tried: the failure where the file
  // does not open for writing either.
  // `was`, where given, is the record of a write cut short that this one finishes: its identity
  // is the one to give back, and it stays the record until the file is whole.
  Failure WriteInPlace(const Replacements& replacements, const Failure& not_copied,
                       const UndoRecord* was = nullptr);

  // The path an undo record names the file by.
  std::string RecordPath() const;

  FileSystem& files_;
  UndoStore& undo_;
  std::filesystem::path path_;  // as given
  Target target_;
  Folder folder_;  // once Prepare opened it
};

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_RUN_TARGET_FILE_H_
