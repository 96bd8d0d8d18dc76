#include "engine/run/failure.h"

namespace ombrix {

Failure Fail(std::error_code code, Step step) {
  Failure failure;
  failure.code = code;
  failure.step = step;
  return failure;
}

PatchError::PatchError(const Failure& failure, const std::filesystem::path& path)
    : std::filesystem::filesystem_error("patch run", path, failure.code), failure_(failure) {}

void ThrowIfFailed(const Failure& failure, const std::filesystem::path& path) {
  if (failure) throw PatchError(failure, path);
}

}  // namespace ombrix
