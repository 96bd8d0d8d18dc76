// A file's identity beyond its bytes (owner, group, mode, flags, extended attributes; on
// Windows creation time, owner and access rules), given to a run's new copy, or given back to a
// file written in place where the write cleared part of it.
#ifndef OMBRIX_ENGINE_RUN_FILE_IDENTITY_H_
#define OMBRIX_ENGINE_RUN_FILE_IDENTITY_H_

#include "engine/platform/file_system.h"
#include "engine/run/failure.h"

namespace ombrix {

// Gives `copy` the whole identity of `file`: removes what the copy took from its folder (a
// default ACL, say) that the file does not have, and sets the rest in order.
Failure GiveIdentity(FileSystem& files, const File& file, const File& copy);

// Gives `file` back what of `identity`, read before it was written in place, the write cleared
// (the set-ID bits, a capability), and flushes it.
Failure GiveBack(FileSystem& files, const File& file, const Identity& identity);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_RUN_FILE_IDENTITY_H_
