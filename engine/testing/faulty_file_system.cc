#include "engine/testing/faulty_file_system.h"

namespace ombrix::test {

FaultPlan::FaultPlan(int fail_at, Extent extent)
    : FaultyFileSystem([this](FileCall call) {
        calls_.push_back(call);
        const int number = static_cast<int>(calls_.size());
        if (fail_at_ == 0) return false;
        return extent_ == Extent::kThatCall ? number == fail_at_ : number >= fail_at_;
      }),
      fail_at_(fail_at),
      extent_(extent) {}

std::optional<FileCall> FaultPlan::failed() const {
  if (fail_at_ == 0 || static_cast<int>(calls_.size()) < fail_at_) return std::nullopt;
  return calls_[static_cast<std::size_t>(fail_at_ - 1)];
}

}  // namespace ombrix::test
