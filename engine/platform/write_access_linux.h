// What this process may do with a file on Linux, found without writing anything: whether it may
// change the file at all, and whether a new copy renamed over it, or a write in place, would
// keep its owner, group, set-ID bits, attributes and flags. The rules are the kernel's: who may
// give a file an owner or a group, which writes clear which bits, which attributes need which
// capability, what a sticky folder allows.
#ifndef OMBRIX_ENGINE_PLATFORM_WRITE_ACCESS_LINUX_H_
#define OMBRIX_ENGINE_PLATFORM_WRITE_ACCESS_LINUX_H_

#include <cstdint>
#include <string>
#include <system_error>

#include "engine/platform/file_system.h"

namespace ombrix {

// Whether the file open as `fd` lies on overlayfs, where the first open for writing of a file that
// lies in a lower layer copies it up into the upper one: a new change time, and perhaps another
// inode number.
bool OnOverlay(int fd);

// Fills `access` for the file open as `file`, named `name` in the folder open as `folder`. Opens
// the file for writing only where nothing else tells whether it would open so (a program that
// another user runs from it), and never on overlayfs.
std::error_code AssessLinux(int file, int folder, const std::string& name, WriteAccess& access);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PLATFORM_WRITE_ACCESS_LINUX_H_
