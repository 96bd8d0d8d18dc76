// Making a run's file-system calls fail on purpose, the way leveldb and SQLite test their I/O:
// a FileSystem that wraps the real one and fails the calls it is told to, and a plan that fails
// the Nth call, alone or together with every call after it.
#ifndef OMBRIX_ENGINE_TESTING_FAULTY_FILE_SYSTEM_H_
#define OMBRIX_ENGINE_TESTING_FAULTY_FILE_SYSTEM_H_

#include <functional>
#include <optional>
#include <vector>

#include "engine/testing/file_system_wrapper.h"

namespace ombrix::test {

// Asked before each call whether it is to fail instead of being made.
using FailDecision = std::function<bool(FileCall)>;

// The real file system, or `base`, with the calls that `fails` picks failing with `error` (an
// I/O error unless a test chooses another). Removing a copy, which only cleans up after a
// failure, is never made to fail.
class FaultyFileSystem : public FileSystemWrapper {
 public:
  explicit FaultyFileSystem(FailDecision fails, FileSystem& base = RealFileSystem())
      : FileSystemWrapper(base), fails_(std::move(fails)) {}

  std::error_code error = std::make_error_code(std::errc::io_error);

 protected:
  std::error_code Before(FileCall call) override {
    if (call == "Remove" || !fails_(call)) return {};
    return error;
  }

 private:
  FailDecision fails_;
};

// A FaultyFileSystem for fixtures: nothing fails until a test sets `fails`.
class SettableFaults : public FaultyFileSystem {
 public:
  SettableFaults() : FaultyFileSystem([this](FileCall call) { return fails && fails(call); }) {}
  FailDecision fails;
};

// Fails call number `fail_at` (counted from 1) and, for kThatCallAndAfter, every later one;
// with `fail_at` 0 nothing fails and the plan only records. Records every call it was asked
// about.
class FaultPlan : public FaultyFileSystem {
 public:
  enum class Extent { kThatCall, kThatCallAndAfter };

  explicit FaultPlan(int fail_at = 0, Extent extent = Extent::kThatCall);

  const std::vector<FileCall>& calls() const { return calls_; }
  // The call made to fail first, if the run got that far.
  std::optional<FileCall> failed() const;

 private:
  int fail_at_;
  Extent extent_;
  std::vector<FileCall> calls_;
};

}  // namespace ombrix::test

#endif  // OMBRIX_ENGINE_TESTING_FAULTY_FILE_SYSTEM_H_
