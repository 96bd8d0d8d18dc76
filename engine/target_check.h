// Telling, without writing anything, which of the patch's texts a target holds and where: the
// look an administrator takes before rolling the patch out, or after.
#ifndef OMBRIX_ENGINE_TARGET_CHECK_H_
#define OMBRIX_ENGINE_TARGET_CHECK_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "engine/patch_run.h"
#include "engine/patch_table.h"

namespace ombrix {

// Where the images of one pair first occur in a target, as byte offsets.
struct PairFound {
  std::optional<std::uint64_t> english;
  std::optional<std::uint64_t> norwegian;
};

enum class TargetKind {
  kUnpatched,      // every English text is there: a run would complete
  kPatched,        // every Norwegian text and no English one
  kPartlyPatched,  // some of the texts, but neither of the above
  kNotATarget,     // none of the texts
};

struct TargetCheck {
  std::array<PairFound, PatchTable.size()> pairs;
  TargetKind kind;
  bool restorable;  // a restore would complete
};

// Reads the file at `path`, exactly as a run would, and tells which texts it holds; writes
// nothing. Returns std::nullopt where a run would answer InvalidPath; throws PatchError when
// reading fails after the probe.
std::optional<TargetCheck> CheckTarget(const std::filesystem::path& path,
                                       const RunSettings& settings = {});

// The same over bytes already in memory. `bytes` is used as scratch space and is left changed.
TargetCheck CheckBytes(std::span<char> bytes);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_TARGET_CHECK_H_
