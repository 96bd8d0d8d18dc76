// Paths a run must answer without hanging, crashing or touching anything: one table of kinds,
// common ones in bad_paths_test.cc and each platform's own in bad_paths_<platform>_test.cc.
#ifndef OMBRIX_ENGINE_RUN_BAD_PATHS_TEST_H_
#define OMBRIX_ENGINE_RUN_BAD_PATHS_TEST_H_

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/run/patch_run.h"
#include "engine/testing/test_files.h"

namespace ombrix::test {

struct BadPath {
  std::string kind;  // what the path is, as the reliability report names it
  // Prepares what the path needs in `folder` and returns the path.
  std::function<std::filesystem::path(const TempFolder& folder)> make;
  // What the run answers; std::nullopt: it throws a PatchError.
  std::optional<PatchOutcome> outcome = PatchOutcome::InvalidPath;
};

std::vector<BadPath> PlatformBadPaths();

// "missing file -> InvalidPath", as the reliability report reads it from the test's output.
void PrintTo(const BadPath& path, std::ostream* out);

}  // namespace ombrix::test

#endif  // OMBRIX_ENGINE_RUN_BAD_PATHS_TEST_H_
