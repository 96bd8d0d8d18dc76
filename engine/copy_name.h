// The name a run's new copy of a target gets beside it while it is written.
#ifndef OMBRIX_ENGINE_COPY_NAME_H_
#define OMBRIX_ENGINE_COPY_NAME_H_

#include <filesystem>

namespace ombrix {

// The target's name with ".ombrix-patch-" + six characters + ".tmp" appended (a long name
// shortened first, at the start of a character, so that it still fits). A leftover of a run
// that was killed may be deleted.
std::filesystem::path NewCopyName(const std::filesystem::path& target);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_COPY_NAME_H_
