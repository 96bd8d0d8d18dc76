// Making the engine's file-system calls fail on purpose, the way SQLite tests its I/O: the
// Nth call fails, alone or together with every call after it.
#ifndef OMBRIX_ENGINE_TESTING_FAULT_PLAN_H_
#define OMBRIX_ENGINE_TESTING_FAULT_PLAN_H_

#include <optional>
#include <utility>
#include <vector>

#include "engine/file_faults.h"

namespace ombrix::testing {

// Sets the engine's fault hook while it lives and records every call the hook was asked about.
class FaultPlan {
 public:
  enum class Extent { kThatCall, kThatCallAndAfter };

  // Fails call number `fail_at` (counted from 1) and, for kThatCallAndAfter, every later one.
  // With `fail_at` 0 nothing fails: the plan only records.
  explicit FaultPlan(int fail_at = 0, Extent extent = Extent::kThatCall);
  ~FaultPlan();
  FaultPlan(const FaultPlan&) = delete;
  FaultPlan& operator=(const FaultPlan&) = delete;

  const std::vector<FileCall>& calls() const { return calls_; }
  // The call made to fail first, if the run got that far.
  std::optional<FileCall> failed() const;

 private:
  int fail_at_;
  Extent extent_;
  std::vector<FileCall> calls_;
};

// Sets the engine's fault hook while it lives, for tests that decide call by call.
class ScopedFileFaultHook {
 public:
  explicit ScopedFileFaultHook(FileFaultHook hook) { SetFileFaultHook(std::move(hook)); }
  ~ScopedFileFaultHook() { SetFileFaultHook(nullptr); }
  ScopedFileFaultHook(const ScopedFileFaultHook&) = delete;
  ScopedFileFaultHook& operator=(const ScopedFileFaultHook&) = delete;
};

}  // namespace ombrix::testing

#endif  // OMBRIX_ENGINE_TESTING_FAULT_PLAN_H_
