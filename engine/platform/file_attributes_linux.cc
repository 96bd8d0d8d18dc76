#include "engine/platform/file_attributes_linux.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>

#include <cerrno>

namespace ombrix {
namespace {

std::error_code LastError() { return {errno, std::system_category()}; }

}  // namespace

bool CannotHere(int error) {
  return error == EOPNOTSUPP || error == ENOTTY || error == EXDEV || error == EINVAL ||
         error == ENOSYS;
}

std::error_code ListAttributes(int fd, std::vector<std::string>& names) {
  std::string list;
  for (;;) {
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0) return errno == ENOTSUP ? std::error_code() : LastError();
    list.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::flistxattr(fd, list.data(), list.size());
    if (got >= 0) {
      list.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) return LastError();  // grew meanwhile: ask again
  }
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t end = list.find('\0', at);
    names.push_back(list.substr(at, end - at));
    at = end == std::string::npos ? list.size() : end + 1;
  }
  return {};
}

std::error_code GetAttribute(int fd, const std::string& name, std::string& value) {
  for (;;) {
    const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return LastError();
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return {};
    }
    if (errno != ERANGE) return LastError();
  }
}

std::error_code GetFlags(int fd, std::uint32_t& flags, bool& supported) {
  int value = 0;
  supported = ::ioctl(fd, FS_IOC_GETFLAGS, &value) == 0;
  flags = supported ? static_cast<std::uint32_t>(value) : 0;
  if (supported || CannotHere(errno)) return {};
  return LastError();
}

std::uint32_t CarriedFlags(std::uint32_t flags) {
  return flags & (FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_NODUMP_FL |
                  FS_NOATIME_FL | FS_NOTAIL_FL | FS_NOCOW_FL | FS_NOCOMP_FL | FS_DAX_FL);
}

}  // namespace ombrix
