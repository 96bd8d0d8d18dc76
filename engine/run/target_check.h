// Telling, without writing anything, which of the patch's texts a target holds and where: the
// look an administrator takes before rolling the patch out, or after.
#ifndef OMBRIX_ENGINE_RUN_TARGET_CHECK_H_
#define OMBRIX_ENGINE_RUN_TARGET_CHECK_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <span>

#include "engine/run/patch_run.h"
#include "engine/search/patch_table.h"
#include "engine/search/torn_scan.h"

namespace ombrix {

// Where the images of one pair first occur in a target, as byte offsets.
struct PairFound {
  std::optional<std::uint64_t> english;
  std::optional<std::uint64_t> norwegian;
};

enum class TargetKind {
  kUnpatched,      // a patch would complete
  kPatched,        // every Norwegian text and no English one
  kPartlyPatched,  // some Norwegian text and some English text, and a patch would not complete
  kNotExpected,    // not the program the patch is for: some texts, but none of the above
  kNotATarget,     // none of the texts
};

struct TargetCheck {
  std::array<PairFound, PatchTable.size()> pairs;
  TargetKind kind;
  bool restorable = false;  // a restore would complete
  // Where a restore cannot tell which place a patch wrote, and so changes nothing.
  std::optional<RestoreAmbiguity> ambiguous;
  // A text that a write in place left cut short, part English and part Norwegian: the file is
  // partly patched, and `restorable` says whether a run and a restore can finish it.
  std::optional<TornText> torn;
  // Where the undo record lies of a write in place of the file that was cut short: the file is
  // partly patched, whatever its texts look like, and a run or a restore finishes it.
  std::optional<std::filesystem::path> undo_record;
  // Why a patch would not complete, where it would not: the first pair neither of whose texts
  // is there; else the first pair whose English text a patch misses because it lies across the
  // text an earlier pair's replacement wrote (`overlapped_by`).
  std::optional<std::size_t> missing;
  std::optional<std::size_t> overlapped;
  std::optional<std::size_t> overlapped_by;
  // Where a patch or a restore would complete: the failure that would stop this user's run
  // before it wrote anything (no permission, an immutable file, an identity no way of writing
  // keeps); empty where none would. Known only for a file on disk.
  Failure blocked;
};

// Reads the file at `path`, exactly as a run would, and tells which texts it holds and whether
// this user's run could write it; writes nothing. Returns std::nullopt where a run would answer
// InvalidPath; throws PatchError when reading fails after the probe.
// Whether a text cut short at `text` can be finished in a file that `plain` (its check, the
// text not taken as whole) tells of: no whole image of its pair lies in the file, and no pair's
// images lie there in both languages, where no run could tell which place the cut-short write
// was making.
bool TornTextStandsAlone(const TargetCheck& plain, const TornText& text);

// Reads `target` for a text that a write in place cut short; where there is one, reads it again
// into `restore` with that text taken as Norwegian, as the write was making it: a restore then
// turns the file back, and its Repatch finishes the patch.
std::optional<TornText> ScanTornAsNorwegian(TargetFile& target, RunScan& restore,
                                            std::size_t buffer_size);

// The check of the file `target` reads, the text cut short not yet looked for.
TargetCheck ScanToCheck(TargetFile& target, const PatchImages& images, std::size_t buffer_size);

std::optional<TargetCheck> CheckTarget(const std::filesystem::path& path,
                                       const RunSettings& settings = {});

// The same over bytes already in memory, read as ScanInParts reads them (`part` bytes at a
// time, `holes` skipped).
TargetCheck CheckBytes(std::span<const char> bytes,
                       std::size_t part = std::numeric_limits<std::size_t>::max());
// The same with searchers made before (the fuzzer checks thousands of buffers a second).
TargetCheck CheckBytes(const PatchImages& images, std::span<const char> bytes, std::size_t part,
                       std::span<const Stretch> holes = {});

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_RUN_TARGET_CHECK_H_
