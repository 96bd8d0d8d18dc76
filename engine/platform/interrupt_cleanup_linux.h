// What the Linux file system tells the signal handler of interrupt_cleanup_linux.cc.
#ifndef OMBRIX_ENGINE_PLATFORM_INTERRUPT_CLEANUP_LINUX_H_
#define OMBRIX_ENGINE_PLATFORM_INTERRUPT_CLEANUP_LINUX_H_

#include <filesystem>

#include "engine/platform/file_system.h"

namespace ombrix {

// The run's new copy, `name` in `folder`, whose descriptor is `copy`: a signal that ends the
// program removes it, where the name is still the copy's. One at a time.
void RegisterCopy(const File& folder, const std::filesystem::path& name, const File& copy);
// The copy was renamed over its target or removed.
void ForgetCopy();

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PLATFORM_INTERRUPT_CLEANUP_LINUX_H_
