// What Linux keeps of a file beyond its bytes, read by the file system (file_system_linux.cc) and
// by the rules of what a user may give a file (write_access_linux.cc): extended attributes and
// chattr flags.
#ifndef OMBRIX_ENGINE_PLATFORM_FILE_ATTRIBUTES_LINUX_H_
#define OMBRIX_ENGINE_PLATFORM_FILE_ATTRIBUTES_LINUX_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace ombrix {

// The names in a file's identity (FileSystem::ReadIdentity) that a write in place clears and an
// interrupted one gives back.
inline constexpr std::string_view kModeAttribute = "mode";
inline constexpr std::string_view kCapabilityAttribute = "security.capability";

// Whether a call failed only because this file system, or this kernel, does not do it (a clone,
// an in-kernel copy, chattr flags).
bool CannotHere(int error);

// The names of the file's extended attributes that this process may see.
std::error_code ListAttributes(int fd, std::vector<std::string>& names);
std::error_code GetAttribute(int fd, const std::string& name, std::string& value);

// The file's chattr flags (FS_IOC_GETFLAGS); `supported` is false, and no error, on a file
// system without them.
std::error_code GetFlags(int fd, std::uint32_t& flags, bool& supported);
// The chattr flags a new copy takes over from its target: those a file may carry from its start
// and its owner may set. Immutable and append-only files are not written.
std::uint32_t CarriedFlags(std::uint32_t flags);

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PLATFORM_FILE_ATTRIBUTES_LINUX_H_
