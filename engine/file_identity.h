// A file's identity beyond its bytes (owner, group, mode, flags, extended attributes; on
// Windows creation time, owner and access rules), given to a run's new copy, or given back to a
// file written in place where the write cleared part of it.
#ifndef OMBRIX_ENGINE_FILE_IDENTITY_H_
#define OMBRIX_ENGINE_FILE_IDENTITY_H_

#include <string>
#include <system_error>
#include <vector>

#include "engine/file_system.h"

namespace ombrix {

// Gives `copy` the whole identity of `file`: removes what the copy took from its folder (a
// default ACL, say) that the file does not have, and sets the rest in order. On failure `step`
// names what could not be done.
std::error_code GiveIdentity(FileSystem& files, const File& file, const File& copy,
                             std::string& step);

// Gives `file` back what of `identity`, read before it was written in place, the write cleared
// (the set-ID bits, a capability). Where it cannot, `step` names what was lost.
std::error_code GiveBack(FileSystem& files, const File& file,
                         const std::vector<FileAttribute>& identity, std::string& step);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_FILE_IDENTITY_H_
