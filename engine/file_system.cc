#include "engine/file_system.h"

namespace ombrix {

bool SameFileUnchanged(const FileInfo& before, const FileInfo& now) {
  return now.is_regular && now.device == before.device && now.index == before.index &&
         now.size == before.size && now.modified == before.modified &&
         now.changed == before.changed;
}

}  // namespace ombrix
