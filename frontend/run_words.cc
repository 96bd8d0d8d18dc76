#include "frontend/run_words.h"

#include <new>
#include <vector>

#include "frontend/path_text.h"

namespace ombrix {
namespace {

std::string Join(const std::vector<std::string>& parts, std::string_view last_separator) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += i + 1 == parts.size() ? last_separator : ", ";
    text += parts[i];
  }
  return text;
}

// A user or group by name, or as "user 1001" where the system knows it only by its number.
std::string Who(const IdentityLoss& loss, std::string_view kind) {
  return loss.named ? loss.whose : std::string(kind) + " " + loss.whose;
}

std::string LossWords(const IdentityLoss& loss) {
  switch (loss.part) {
    case IdentityPart::kOwner:
      return "its owner (" + Who(loss, "user") + ")";
    case IdentityPart::kGroup:
      return "its group (" + Who(loss, "group") + "), which this user is not in";
    case IdentityPart::kSetUserId:
      return "its set-user-ID bit";
    case IdentityPart::kSetGroupId:
      return "its set-group-ID bit";
    case IdentityPart::kAttribute:
      return "its attribute " + loss.whose;
    case IdentityPart::kFlags:
      return "its flags (chattr)";
    case IdentityPart::kCapabilities:
      return "its file capabilities";
  }
  return {};
}

std::vector<std::string> LossesWords(const std::vector<IdentityLoss>& losses) {
  std::vector<std::string> words;
  for (const IdentityLoss& loss : losses) words.push_back(LossWords(loss));
  return words;
}

std::string_view ObstacleWords(CopyObstacle obstacle) {
  switch (obstacle) {
    case CopyObstacle::kFolderLocked:
      return "its folder lets no file be renamed or removed (chattr +a or +i)";
    case CopyObstacle::kFolderClosed:
      return "this user may not make files in its folder";
    case CopyObstacle::kFolderSticky:
      return "its folder is sticky (+t) and neither the folder nor the file belongs to this user";
    case CopyObstacle::kMountPoint:
      return "it is a mount point, which no rename replaces";
  }
  return {};
}

// Why neither way of writing would keep the file as it is: "this user may not make files in its
// folder; a write in place would clear its set-user-ID bit, which this user may not give back".
std::string NotKeptWords(const WriteAccess& access) {
  std::vector<std::string> copy;
  for (const CopyObstacle obstacle : access.copy_obstacles) {
    copy.emplace_back(ObstacleWords(obstacle));
  }
  if (!access.copy_would_lose.empty()) {
    copy.push_back("a new copy would not keep " +
                   Join(LossesWords(access.copy_would_lose), " or "));
  }
  std::string words = Join(copy, "; ");
  if (!access.in_place_would_clear.empty()) {
    words += "; a write in place would clear " +
             Join(LossesWords(access.in_place_would_clear), " and ") +
             ", which this user may not give back";
  }
  return words;
}

// What could not be done, as a phrase that follows "Could not": "read the file".
std::string StepWords(const Failure& failure) {
  const bool in_use = InUse(failure.code);
  const auto unless_in_use = [&](std::string_view verb, std::string_view step) {
    return in_use ? std::string(verb) + " the file, because it is in use by another program"
                  : std::string(step);
  };
  switch (failure.step) {
    case Step::kOpen:
      return "open the file for reading";
    case Step::kRead:
      return "read the file";
    case Step::kHoldBuffer:
      return "hold the read buffer in memory (" + failure.detail + " bytes)";
    case Step::kCheckForChanges:
      return "check the file for changes";
    case Step::kFindInFolder:
      return "find the file in its folder";
    case Step::kBeginWriting:
      return "write the file";
    case Step::kAssess:
      return "find out what this user may do with the file";
    case Step::kChange:
      return unless_in_use("change", "change the file");
    case Step::kKeepAsItIs:
      return "patch the file and keep it as it is otherwise";
    case Step::kCreateCopy:
      return unless_in_use("copy", "create a new copy of the file in its folder");
    case Step::kFillCopy:
      return "copy the file into the new copy";
    case Step::kWriteCopy:
      return "write the new copy of the file";
    case Step::kReadIdentity:
      return "read the file's attributes";
    case Step::kReadCopyIdentity:
      return "read the new copy's attributes";
    case Step::kRemoveFromCopy:
      return "remove from the new copy the " + failure.detail + " it took from its folder";
    case Step::kGiveCopy:
      return "give the new copy the file's " + failure.detail;
    case Step::kFlushCopy:
      return "flush the new copy to the disk";
    case Step::kReadBack:
      return "read back the new copy of the file";
    case Step::kReplace:
      return unless_in_use("replace", "replace the file with the new copy");
    case Step::kOpenForWriting:
      if (failure.code.category() == PatchCategory()) return "write the file";
      return unless_in_use("write", "open the file for writing");
    case Step::kWriteInPlace:
      return "overwrite the file in place";
    case Step::kGiveBack:
      return "give the file back its " + failure.detail + " after writing it in place";
    case Step::kFlushFile:
      return "flush the file to the disk";
    case Step::kStillNamed:
      return "keep the patch at the file's path";
  }
  return "patch the file";
}

// What the run appended to the target's name for its new copy: ".ombrix-patch-XXXXXX.tmp".
std::string CopySuffix(const std::filesystem::path& copy) {
  const std::string name = Utf8(copy.filename());
  const std::size_t start = name.rfind(".ombrix-patch-");
  return start == name.npos ? name : name.substr(start);
}

std::string Reason(const std::exception& error) {
  if (const auto* patch_error = dynamic_cast<const PatchError*>(&error)) {
    return FailureReason(patch_error->failure());
  }
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    return "There was not enough memory for the run.";
  }
  std::string text = error.what();
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

std::string Consequence(const std::exception& error, std::optional<bool> restorable) {
  const auto* patch_error = dynamic_cast<const PatchError*>(&error);
  if (patch_error != nullptr && patch_error->step() == Step::kStillNamed) {
    return "This run patched the file it had opened, which is no longer at the path; the file "
           "there now is not patched.";
  }
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

std::string ReasonText(std::error_code error) {
  if (error.category() != PatchCategory()) return error.message();
  switch (static_cast<PatchErrc>(error.value())) {
    case PatchErrc::kFileChanged:
      return "the file was changed by someone else while it was being patched";
    case PatchErrc::kNotRegularFile:
      return "it is not a regular file";
    case PatchErrc::kCopyDiffers:
      return "what the disk gave back differs from what was written";
    case PatchErrc::kFileRemoved:
      return "another program removed or renamed the file while it was being patched";
    case PatchErrc::kLengthUntrue:
      return "its length says 0 bytes, yet it reads more: the system makes it up as it is read, "
             "as it does the files of /proc; it is no program";
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
    case PatchErrc::kDeleted:
      return "the file has no name any more (it was deleted), so there is none to patch it under";
  }
  return error.message();
}

std::string FailureReason(const Failure& failure) {
  std::string text = "Could not " + StepWords(failure) + ": ";
  text +=
      failure.step == Step::kKeepAsItIs ? NotKeptWords(failure.access) : ReasonText(failure.code);
  if (failure.copy_left_reason) {
    text += "; and its new copy beside it (its name with " + CopySuffix(failure.copy_left) +
            " appended) could not be removed (" + ReasonText(failure.copy_left_reason) +
            "): it may be deleted";
  }
  return text + ".";
}

std::string RunErrorReason(const std::exception& error) { return Reason(error); }

std::string InPlaceReasonWords(const Written& written) {
  if (written.way != WriteWay::kInPlace) return {};
  switch (written.why) {
    case InPlaceReason::kCopyWouldNotKeep:
      return NotKeptWords(written.access);
    case InPlaceReason::kNoRoom:
      return "no room for a new copy on the disk";
    case InPlaceReason::kCopyRefused:
      return "could not " + StepWords(written.not_copied) + ": " +
             ReasonText(written.not_copied.code);
    case InPlaceReason::kCutShort:
      return "a write in place had been cut short, and this run finished it";
  }
  return {};
}

std::string RunErrorSentence(const std::exception& error, std::optional<bool> restorable) {
  return Reason(error) + " " + Consequence(error, restorable);
}

std::string DescribeRunError(const std::filesystem::path& path, const std::exception& error) {
  return "The update of this file failed:\n" + Utf8(path) + "\n\n" + Reason(error) + "\n\n" +
         Consequence(error, std::nullopt);
}

}  // namespace ombrix
