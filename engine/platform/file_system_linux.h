// The Linux file system with a say in how a new copy is filled: the tests take each way in
// turn (RealFileSystem() takes the best the file system offers).
#ifndef OMBRIX_ENGINE_PLATFORM_FILE_SYSTEM_LINUX_H_
#define OMBRIX_ENGINE_PLATFORM_FILE_SYSTEM_LINUX_H_

#include "engine/platform/file_system.h"

namespace ombrix {

enum class CopyMethods {
  kBest,       // a clone, else copy_file_range, else through memory
  kNoClone,    // copy_file_range, else through memory
  kPlainOnly,  // through memory, stretch by stretch of data
};

// A file system that fills new copies only in the ways `methods` allows.
FileSystem& LinuxFileSystem(CopyMethods methods);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PLATFORM_FILE_SYSTEM_LINUX_H_
