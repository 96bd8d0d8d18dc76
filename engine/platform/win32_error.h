// Windows error codes as std::error_code, with the system's own text as their message.
#ifndef OMBRIX_ENGINE_PLATFORM_WIN32_ERROR_H_
#define OMBRIX_ENGINE_PLATFORM_WIN32_ERROR_H_

#include <system_error>

namespace ombrix {

// The category of GetLastError() codes. Its messages are FormatMessageW's text in UTF-8; its
// conditions map the common codes to std::errc (ERROR_FILE_NOT_FOUND to
// no_such_file_or_directory, ERROR_DISK_FULL to no_space_on_device, ...).
const std::error_category& Win32Category();

// GetLastError() of the calling thread, in Win32Category().
std::error_code LastWin32Error();

}  // namespace ombrix

#endif  // OMBRIX_ENGINE_PLATFORM_WIN32_ERROR_H_
