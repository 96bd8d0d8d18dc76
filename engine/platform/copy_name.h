// The name a run's new copy of a target gets beside it while it is written.
#ifndef OMBRIX_ENGINE_PLATFORM_COPY_NAME_H_
#define OMBRIX_ENGINE_PLATFORM_COPY_NAME_H_

#include <filesystem>
#include <functional>
#include <system_error>

namespace ombrix {

// The target's name with ".ombrix-patch-" + six characters + ".tmp" appended (a long name
// shortened first, at the start of a character, so that it still fits). A leftover of a run
// that was killed may be deleted.
std::filesystem::path NewCopyName(const std::filesystem::path& target);

// Calls `create` with new copy names of `target` until it makes one that was not taken
// (anything but std::errc::file_exists), a hundred times at most, and answers as the last call
// did; `name` is the last name tried.
std::error_code CreateUnderNewName(
    const std::filesystem::path& target,
    const std::function<std::error_code(const std::filesystem::path&)>& create,
    std::filesystem::path& name);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PLATFORM_COPY_NAME_H_
