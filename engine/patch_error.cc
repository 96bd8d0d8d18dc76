#include "engine/patch_error.h"

namespace ombrix {
namespace {

class Category : public std::error_category {
 public:
  const char* name() const noexcept override { return "ombrix patch"; }
  std::string message(int error) const override {
    switch (static_cast<PatchErrc>(error)) {
      case PatchErrc::kFileChanged:
        return "the file was changed by someone else while it was being patched";
      case PatchErrc::kNotRegularFile:
        return "it is not a regular file";
      case PatchErrc::kCopyDiffers:
        return "what the disk gave back differs from what was written";
      case PatchErrc::kFileRemoved:
        return "another program removed or renamed the file while it was being patched";
      case PatchErrc::kLengthUntrue:
        return "its length says 0 bytes, yet it reads more: the system makes it up as it is "
               "read, as it does the files of /proc; it is no program";
      case PatchErrc::kMountPoint:
        return "it is a mount point, which cannot be replaced by another file";
      case PatchErrc::kImmutable:
        return "it is immutable (chattr +i): no one may change it until that flag is removed";
      case PatchErrc::kAppendOnly:
        return "it is append-only (chattr +a): no one may change it until that flag is removed";
      case PatchErrc::kCopyReplaced:
        return "another program moved or replaced the new copy while it was being written";
      case PatchErrc::kNotKept:
        return "the file would not stay as it is otherwise";
      case PatchErrc::kInterrupted:
        return "the program was told to end";
      case PatchErrc::kLocked:
        return "another program is writing it (it holds a lock on the file)";
    }
    return "unknown error";
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

PatchError::PatchError(const std::string& step, const std::filesystem::path& path,
                       std::error_code reason, TargetState target, const std::string& because)
    : std::filesystem::filesystem_error("cannot " + step + (because.empty() ? "" : ": " + because),
                                        path, reason),
      step_(step),
      target_(target),
      because_(because) {}

}  // namespace ombrix
