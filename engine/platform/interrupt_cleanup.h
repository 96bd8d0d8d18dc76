// Leaving nothing half done when the program is ended from outside while a run works: Ctrl+C,
// Ctrl+\, a roll-out tool's SIGTERM at its time-out, a closed terminal, a CPU-time limit, any
// signal that would end the program (on Windows: Ctrl+C, Ctrl+Break and closing the console).
// The run's new copy is removed, and a patch in place is undone, before the program ends as the
// signal would have ended it. SIGKILL and a power cut cannot be caught; a copy they leave is
// known by its name (see NewCopyName).
#ifndef OMBRIX_ENGINE_PLATFORM_INTERRUPT_CLEANUP_H_
#define OMBRIX_ENGINE_PLATFORM_INTERRUPT_CLEANUP_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/platform/file_system.h"

namespace ombrix {

// Makes every signal that would end the program (on Windows every console event) clean up
// first, then end it as it would have. Signals that the program was started to ignore stay
// ignored, and a handler already installed (a sanitizer's, say) stays. Each program's entry
// calls it once, on the thread that runs the runs, before any run, after choosing what it
// ignores itself. `not_undone` is what is written on standard error where a patch in place
// cannot be undone; it must last as long as the program.
void CleanUpOnInterrupt(std::string_view not_undone = {});

// The run's new copy is registered by the file system that makes it (MakeCopy), and forgotten
// once it is renamed or removed.

// The bytes of a file at an offset, kept to be written back.
struct SavedBytes {
  std::uint64_t offset = 0;
  std::string bytes;
};

// While it lives, the run writes over `file` in place the ranges that `saved` holds the old
// bytes of, and `identity` is what the file was before (FileSystem::ReadIdentity): an
// interruption writes those bytes back and gives back what the writes cleared (a set-ID bit, a
// capability), and says so on standard error where it cannot. On Windows it lets the writes
// finish instead.
class InPlaceUndo {
 public:
  InPlaceUndo(const File& file, std::span<const SavedBytes> saved, const Identity& identity);
  ~InPlaceUndo();
  InPlaceUndo(const InPlaceUndo&) = delete;
  InPlaceUndo& operator=(const InPlaceUndo&) = delete;
};

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PLATFORM_INTERRUPT_CLEANUP_H_
