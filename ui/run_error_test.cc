#include "ui/run_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "engine/patch_error.h"
#include "ui/path_text.h"

namespace ombrix {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(RunErrorTest, SaysWhatFailedWhyAndWhatBecameOfTheFile) {
  const PatchError error("flush the new copy to the disk", "/x/Ombrix.exe",
                         std::make_error_code(std::errc::io_error));
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
            "There was not memory enough for the run. The file was left unchanged.");
}

TEST(RunErrorTest, SaysWhenTheFileMayBeDamaged) {
  const PatchError error("overwrite the file in place", "/x/Ombrix.exe",
                         std::make_error_code(std::errc::io_error), TargetState::kMayBeDamaged);
  const std::string text = DescribeRunError("/x/Ombrix.exe", error);
  EXPECT_THAT(text, HasSubstr("Could not overwrite the file in place: "));
  EXPECT_THAT(text,
              HasSubstr("may be partly patched: 'ombrix-patch-cli --restore' makes it whole"));
  EXPECT_THAT(text, Not(HasSubstr("left unchanged")));
  EXPECT_THAT(RunErrorSentence(error, false), HasSubstr("restore it from a copy"));
}

#ifdef _WIN32
TEST(RunErrorTest, WindowsNameWithALoneSurrogateIsShownWithTheReplacementCharacter) {
  EXPECT_EQ(Utf8(std::filesystem::path(L"C:\\bl\u00e5\xD800.exe")),
            "C:\\bl\xC3\xA5\xEF\xBF\xBD.exe");
}
#endif

}  // namespace
}  // namespace ombrix
