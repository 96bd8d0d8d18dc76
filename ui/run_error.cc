#include "ui/run_error.h"

#include <new>

#include "engine/patch_error.h"
#include "ui/path_text.h"

namespace ombrix {
namespace {

std::string Reason(const std::exception& error) {
  if (const auto* patch_error = dynamic_cast<const PatchError*>(&error)) {
    return "Could not " + patch_error->step() + ": " + patch_error->reason() + ".";
  }
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    return "There was not memory enough for the run.";
  }
  std::string text = error.what();
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

std::string Consequence(const std::exception& error, std::optional<bool> restorable) {
  const auto* patch_error = dynamic_cast<const PatchError*>(&error);
  if (patch_error != nullptr && (patch_error->code() == PatchErrc::kFileChanged ||
                                 patch_error->code() == PatchErrc::kFileRemoved)) {
    return "This run changed nothing; what the other program did stands.";
  }
  if (patch_error == nullptr || patch_error->target() != TargetState::kMayBeDamaged) {
    return "The file was left unchanged.";
  }
  if (restorable == false) {
    return "The file may be partly changed, and 'ombrix-patch-cli --restore' cannot make it "
           "whole: restore it from a copy before you use it.";
  }
  return "The file may be partly patched: 'ombrix-patch-cli --restore' makes it whole again.";
}

}  // namespace

std::string RunErrorSentence(const std::exception& error, std::optional<bool> restorable) {
  return Reason(error) + " " + Consequence(error, restorable);
}

std::string RunErrorReason(const std::exception& error) { return Reason(error); }

std::string DescribeRunError(const std::filesystem::path& path, const std::exception& error) {
  return "The update of this file failed:\n" + Utf8(path) + "\n\n" + Reason(error) + "\n\n" +
         Consequence(error, std::nullopt);
}

}  // namespace ombrix
