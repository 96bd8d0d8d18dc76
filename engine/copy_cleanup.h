// Removing a run's new copy when the program is interrupted while the copy exists (Ctrl+C, a
// roll-out tool's SIGTERM at its time-out, a closed terminal), so that no partial copy is left
// beside the target. SIGKILL and a power cut cannot be caught; a copy they leave is known by its
// name (see NewCopyName).
#ifndef OMBRIX_ENGINE_COPY_CLEANUP_H_
#define OMBRIX_ENGINE_COPY_CLEANUP_H_

#include <filesystem>

namespace ombrix {

// Makes SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl+C, Ctrl+Break and closing the console)
// remove the copy registered at that moment, then end the program as the signal would have.
// Signals that the program was started to ignore stay ignored. Each program's entry calls it
// once, before any run.
void RemoveCopiesOnInterrupt();

// Registers `copy`, a new copy that a run just created, for removal on an interrupt while this
// object lives. One at a time.
class CopyCleanup {
 public:
  explicit CopyCleanup(const std::filesystem::path& copy);
  ~CopyCleanup();
  CopyCleanup(const CopyCleanup&) = delete;
  CopyCleanup& operator=(const CopyCleanup&) = delete;
};

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_COPY_CLEANUP_H_
