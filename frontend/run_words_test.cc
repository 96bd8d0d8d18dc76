#include "frontend/run_words.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "frontend/path_text.h"

namespace ombrix {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

Failure Made(std::error_code code, Step step, std::string detail = {}) {
  Failure failure = Fail(code, step);
  failure.detail = std::move(detail);
  return failure;
}

// The engine's failures, as values, in the words every front end shows.
TEST(RunWordsTest, SayWhatFailedAndWhy) {
  const std::error_code io = std::make_error_code(std::errc::io_error);
  Failure not_kept = Fail(PatchErrc::kNotKept, Step::kKeepAsItIs);
  not_kept.access.copy_obstacles = {CopyObstacle::kFolderClosed};
  not_kept.access.copy_would_lose = {{IdentityPart::kOwner, "root"},
                                     {IdentityPart::kGroup, "4001", false},
                                     {IdentityPart::kAttribute, "trusted.kept"}};
  not_kept.access.in_place_would_clear = {{IdentityPart::kSetUserId, {}},
                                          {IdentityPart::kCapabilities, {}}};
  Failure left = Fail(io, Step::kFlushCopy);
  left.copy_left = "Ombrix.exe.ombrix-patch-a1b2c3.tmp";
  left.copy_left_reason = std::make_error_code(std::errc::permission_denied);
  const struct {
    Failure failure;
    std::string words;
  } cases[] = {
      {Made(io, Step::kFlushCopy), "Could not flush the new copy to the disk: " + io.message()},
      {Made(PatchErrc::kImmutable, Step::kChange),
       "Could not change the file: it is immutable (chattr +i): no one may change it until that "
       "flag is removed"},
      {Made(io, Step::kGiveCopy, "user.origin"),
       "Could not give the new copy the file's user.origin: " + io.message()},
      {Made(io, Step::kRemoveFromCopy, "system.posix_acl_default"),
       "Could not remove from the new copy the system.posix_acl_default it took from its folder: " +
           io.message()},
      {Made(std::make_error_code(std::errc::not_enough_memory), Step::kHoldBuffer, "262208"),
       "Could not hold the read buffer in memory (262208 bytes): " +
           std::make_error_code(std::errc::not_enough_memory).message()},
      {Made(PatchErrc::kLocked, Step::kOpenForWriting),
       "Could not write the file: another program is writing it (it holds a lock on the file)"},
      {not_kept,
       "Could not patch the file and keep it as it is otherwise: this user may not make files in "
       "its folder; a new copy would not keep its owner (root), its group (group 4001), which "
       "this user is not in or its attribute trusted.kept; a write in place would clear its "
       "set-user-ID bit and its file capabilities, which this user may not give back"},
      {left,
       "Could not flush the new copy to the disk: " + io.message() +
           "; and its new copy beside it (its name with .ombrix-patch-a1b2c3.tmp appended) could "
           "not be removed (" +
           std::make_error_code(std::errc::permission_denied).message() + "): it may be deleted"},
  };
  for (const auto& [failure, words] : cases) {
    EXPECT_EQ(FailureReason(failure), words + ".");
  }
}

TEST(RunWordsTest, SayWhatFailedWhyAndWhatBecameOfTheFile) {
  const PatchError error(Fail(std::make_error_code(std::errc::io_error), Step::kFlushCopy),
                         "/x/Ombrix.exe");
  const std::string reason = std::make_error_code(std::errc::io_error).message();
  EXPECT_EQ(RunErrorSentence(error), "Could not flush the new copy to the disk: " + reason +
                                         ". The file was left unchanged.");
  EXPECT_EQ(DescribeRunError("/x/Ombrix.exe", error),
            "The update of this file failed:\n/x/Ombrix.exe\n\nCould not flush the new copy to "
            "the disk: " +
                reason + ".\n\nThe file was left unchanged.");
  EXPECT_EQ(RunErrorSentence(std::runtime_error("out of handles")),
            "out of handles. The file was left unchanged.");
  EXPECT_EQ(RunErrorSentence(std::bad_alloc()),
            "There was not enough memory for the run. The file was left unchanged.");
  const PatchError changed(Fail(PatchErrc::kFileChanged, Step::kReplace), "/x/Ombrix.exe");
  EXPECT_THAT(RunErrorSentence(changed), HasSubstr("what the other program did stands."));
}

// Why a run wrote the file in place, for each reason; nothing for a new copy.
TEST(RunWordsTest, SayWhyTheFileWasPatchedInPlace) {
  Written written;
  EXPECT_EQ(InPlaceReasonWords(written), "");
  written.way = WriteWay::kInPlace;
  written.access.copy_obstacles = {CopyObstacle::kFolderClosed};
  EXPECT_EQ(InPlaceReasonWords(written), "this user may not make files in its folder");
  written.why = InPlaceReason::kNoRoom;
  EXPECT_EQ(InPlaceReasonWords(written), "no room for a new copy on the disk");
  written.why = InPlaceReason::kCopyRefused;
  written.not_copied = Fail(std::make_error_code(std::errc::permission_denied), Step::kCreateCopy);
  EXPECT_EQ(InPlaceReasonWords(written), "could not create a new copy of the file in its folder: " +
                                             written.not_copied.code.message());
}

TEST(RunWordsTest, SayWhenTheFileMayBeDamaged) {
  Failure failure = Fail(std::make_error_code(std::errc::io_error), Step::kWriteInPlace);
  failure.target = TargetState::kMayBeDamaged;
  const PatchError error(failure, "/x/Ombrix.exe");
  const std::string text = DescribeRunError("/x/Ombrix.exe", error);
  EXPECT_THAT(text, HasSubstr("Could not overwrite the file in place: "));
  EXPECT_THAT(text,
              HasSubstr("may be partly patched: 'ombrix-patch-cli --restore' makes it whole"));
  EXPECT_THAT(text, Not(HasSubstr("left unchanged")));
  EXPECT_THAT(RunErrorSentence(error, false), HasSubstr("restore it from a copy"));
}

#ifdef _WIN32
TEST(RunWordsTest, WindowsNameWithALoneSurrogateIsShownWithTheReplacementCharacter) {
  EXPECT_EQ(Utf8(std::filesystem::path(L"C:\\bl\u00e5\xD800.exe")),
            "C:\\bl\xC3\xA5\xEF\xBF\xBD.exe");
}
#endif

}  // namespace
}  // namespace ombrix
