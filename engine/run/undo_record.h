// The undo record of a write in place, kept (UndoStore) from before its first write until the
// file is whole again, bytes and identity: which file, what each range held before and is to
// hold after, and the file's identity before, which a write may clear parts of (a capability,
// the set-ID bits). A run that was cut short leaves it; the next run, --check or --restore of
// that file finds it and finishes or undoes the write.
#ifndef OMBRIX_ENGINE_RUN_UNDO_RECORD_H_
#define OMBRIX_ENGINE_RUN_UNDO_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/platform/file_system.h"

namespace ombrix {

struct UndoRange {
  std::size_t pair = 0;  // of PatchTable
  std::uint64_t offset = 0;
  std::string before;
  std::string after;  // as long as `before`
  friend bool operator==(const UndoRange&, const UndoRange&) = default;
};

struct UndoRecord {
  std::string path;  // the file's absolute path, in UTF-8
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  std::uint64_t size = 0;
  std::vector<UndoRange> ranges;
  Identity identity;  // before the first write
  friend bool operator==(const UndoRecord&, const UndoRecord&) = default;
};

// The name a record of the file `info` describes is kept under.
std::string UndoKey(const FileInfo& info);

std::string Encode(const UndoRecord& record);
// None where `bytes` are no whole record (cut short, or another program's).
std::optional<UndoRecord> Decode(std::string_view bytes);

// Whether `record` tells of the file at `path` that `info` and `identity` describe, as a write
// in place cut short can have left it: its path, volume, index and length; the identity as it
// was but for what a write clears (a part gone, the mode's set-ID bits); and each range's bytes,
// `now` (read at its offset, as long), each the byte before or after there. (A file that was
// deleted and whose index another file took at the same path must also hold the same bytes
// there and have the same owner, mode and attributes.)
bool RecordFits(const UndoRecord& record, const std::string& path, const FileInfo& info,
                const Identity& identity, const std::vector<std::string>& now);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_RUN_UNDO_RECORD_H_
