// Leaving nothing half done when the program is ended from outside while a run works: Ctrl+C,
// Ctrl+\, a roll-out tool's SIGTERM at its time-out, a closed terminal, a CPU-time limit, any
// signal that would end the program (on Windows: Ctrl+C, Ctrl+Break and closing the console).
// The run's new copy is removed, and a patch in place is undone, before the program ends as the
// signal would have ended it. SIGKILL and a power cut cannot be caught; a copy they leave is
// known by its name (see NewCopyName).
#ifndef OMBRIX_ENGINE_INTERRUPT_CLEANUP_H_
#define OMBRIX_ENGINE_INTERRUPT_CLEANUP_H_

#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/patch_images.h"

namespace ombrix {

// Makes every signal that would end the program (on Windows every console event) clean up
// first, then end it as it would have. Signals that the program was started to ignore stay
// ignored, and a handler already installed (a sanitizer's, say) stays. Each program's entry
// calls it once, on the thread that runs the runs, before any run, after choosing what it
// ignores itself.
void CleanUpOnInterrupt();

// The run's new copy is registered by the file system that makes it (CreateCopy), and forgotten
// once it is renamed or removed.

// While it lives, the run writes `replacements` over `file` in place, where `old` holds the
// bytes they replace and `identity` what the file was before (FileSystem::ReadIdentity): an
// interruption writes those bytes back and gives back what the writes cleared (a set-ID bit, a
// capability), and says so on standard error where it cannot. On Windows it lets the writes
// finish instead.
class InPlaceUndo {
 public:
  InPlaceUndo(const File& file, const Replacements& replacements,
              const std::vector<std::string>& old, const std::vector<FileAttribute>& identity);
  ~InPlaceUndo();
  InPlaceUndo(const InPlaceUndo&) = delete;
  InPlaceUndo& operator=(const InPlaceUndo&) = delete;
};

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_INTERRUPT_CLEANUP_H_
