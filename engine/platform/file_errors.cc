#include "engine/platform/file_errors.h"

#include <string>

namespace ombrix {
namespace {

class Category : public std::error_category {
 public:
  const char* name() const noexcept override { return "ombrix patch"; }
  std::string message(int error) const override {
    switch (static_cast<PatchErrc>(error)) {
      case PatchErrc::kFileChanged:
        return "file changed";
      case PatchErrc::kNotRegularFile:
        return "not a regular file";
      case PatchErrc::kCopyDiffers:
        return "copy differs";
      case PatchErrc::kFileRemoved:
        return "file removed";
      case PatchErrc::kLengthUntrue:
        return "length untrue";
      case PatchErrc::kMountPoint:
        return "mount point";
      case PatchErrc::kImmutable:
        return "immutable";
      case PatchErrc::kAppendOnly:
        return "append-only";
      case PatchErrc::kCopyReplaced:
        return "copy replaced";
      case PatchErrc::kNotKept:
        return "not kept";
      case PatchErrc::kInterrupted:
        return "interrupted";
      case PatchErrc::kLocked:
        return "locked";
      case PatchErrc::kDeleted:
        return "deleted";
    }
    return "unknown";
  }
};

}  // namespace

const std::error_category& PatchCategory() {
  static const Category category;
  return category;
}

std::error_code make_error_code(PatchErrc error) {
  return {static_cast<int>(error), PatchCategory()};
}

}  // namespace ombrix
