#include "engine/file_faults.h"

#include <utility>

namespace ombrix {
namespace {

FileFaultHook& Hook() {
  thread_local FileFaultHook hook;
  return hook;
}

}  // namespace

std::string_view FileCallName(FileCall call) {
  switch (call) {
    case FileCall::kOpenForReading:
      return "open for reading";
    case FileCall::kQueryFile:
      return "query file";
    case FileCall::kRead:
      return "read";
    case FileCall::kClose:
      return "close";
    case FileCall::kResolveLinks:
      return "resolve links";
    case FileCall::kCreateNew:
      return "create new file";
    case FileCall::kWrite:
      return "write";
    case FileCall::kCopyPermissions:
      return "copy permissions";
    case FileCall::kFlush:
      return "flush";
    case FileCall::kReplace:
      return "replace";
    case FileCall::kFlushFolder:
      return "flush folder";
    case FileCall::kOpenForWriting:
      return "open for writing";
  }
  return "unknown";
}

void SetFileFaultHook(FileFaultHook hook) { Hook() = std::move(hook); }

bool FileFaultInjected(FileCall call) {
  const FileFaultHook& hook = Hook();
  return hook && hook(call);
}

}  // namespace ombrix
