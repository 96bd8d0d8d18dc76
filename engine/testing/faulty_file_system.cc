#include "engine/testing/faulty_file_system.h"

namespace ombrix::testing {

std::string_view FileCallName(FileCall call) {
  switch (call) {
    case FileCall::kOpenForReading:
      return "open for reading";
    case FileCall::kQueryFile:
      return "query file";
    case FileCall::kOpenFolder:
      return "open folder";
    case FileCall::kAssess:
      return "assess";
    case FileCall::kOpenForWriting:
      return "open for writing";
    case FileCall::kRead:
      return "read";
    case FileCall::kWrite:
      return "write";
    case FileCall::kFlush:
      return "flush";
    case FileCall::kClose:
      return "close";
    case FileCall::kCreateCopy:
      return "create copy";
    case FileCall::kFillCopy:
      return "fill copy";
    case FileCall::kFindData:
      return "find data";
    case FileCall::kReadIdentity:
      return "read identity";
    case FileCall::kSetAttribute:
      return "set attribute";
    case FileCall::kRemoveAttribute:
      return "remove attribute";
    case FileCall::kOpenForVerifying:
      return "open for verifying";
    case FileCall::kReplace:
      return "replace";
    case FileCall::kRemove:
      return "remove";
    case FileCall::kFlushFolder:
      return "flush folder";
    case FileCall::kWatch:
      return "watch";
    case FileCall::kWrittenSince:
      return "written since";
  }
  return "unknown";
}

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

}  // namespace ombrix::testing
