#include "ui/update_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/platform/file_errors.h"
#include "engine/testing/faulty_file_system.h"
#include "engine/testing/test_files.h"
#include "ui/form_design.h"
#include "ui/recording_form_test.h"

namespace ombrix {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class UpdateCommandTest : public test::TargetTest {
 protected:
  void SetUp() override { form_.path = target_; }

  test::RecordingForm form_;
  test::SettableFaults files_;
  UpdateCommand command_{form_, files_};
};

TEST_F(UpdateCommandTest, InvalidPathHidesTheLabelBeforeItsMessage) {
  command_.cmdUpdate_Click();
  EXPECT_THAT(form_.steps,
              ElementsAre("show lblWait", "events", "hide lblWait",
                          "message [Error] File Path is Invalid.  Enter correct path and try "
                          "again."));
}

TEST_F(UpdateCommandTest, NotApplicableShowsItsMessageWhileTheLabelIsVisible) {
  test::WriteBytes(target_, sample_.patched);
  command_.cmdUpdate_Click();
  EXPECT_THAT(form_.steps,
              ElementsAre("show lblWait", "events",
                          "message [Ombrix 2000] Can not update now.  Program has already been "
                          "updated or File Path is invalid. (lblWait visible)",
                          "hide lblWait"));
}

TEST_F(UpdateCommandTest, CompletedShowsItsMessageThenEndsWithTheLabelStillVisible) {
  test::WriteBytes(target_, sample_.unpatched);
  command_.cmdUpdate_Click();
  EXPECT_THAT(form_.steps,
              ElementsAre("show lblWait", "events",
                          "message [Ombrix 2000] Update is complete! (lblWait visible)", "end 0"));
  EXPECT_TRUE(test::SameBytes(test::ReadBytes(target_), sample_.patched));
}

TEST_F(UpdateCommandTest, CorrectedPathAfterAnInvalidOnePatchesTheFile) {
  form_.path = folder_ / "Ombrix.ex";
  command_.cmdUpdate_Click();
  test::WriteBytes(target_, sample_.unpatched);
  form_.path = target_;
  form_.steps.clear();
  command_.cmdUpdate_Click();
  EXPECT_EQ(form_.steps.back(), "end 0");
  EXPECT_TRUE(test::SameBytes(test::ReadBytes(target_), sample_.patched));
}

TEST_F(UpdateCommandTest, EscapingErrorIsReportedAndEndsTheProgram) {
  test::WriteBytes(target_, sample_.unpatched);
  files_.fails = [](test::FileCall call) { return call == "WriteAt"; };
  command_.cmdUpdate_Click();
  ASSERT_EQ(form_.steps.size(), 4u);
  EXPECT_THAT(form_.steps[2], StartsWith("message [Error] The update of this file failed:\n"));
  EXPECT_THAT(form_.steps[2], HasSubstr("Ombrix.exe\n"));
  EXPECT_THAT(form_.steps[2], HasSubstr("Could not write the new copy of the file: "));
  EXPECT_THAT(form_.steps[2], HasSubstr("The file was left unchanged."));
  EXPECT_EQ(form_.steps[3], "end 1");
  EXPECT_TRUE(test::SameBytes(test::ReadBytes(target_), sample_.unpatched));
}

TEST_F(UpdateCommandTest, PressDuringTheEventPassDoesNotStartASecondRun) {
  test::WriteBytes(target_, sample_.patched);
  int presses = 0;
  form_.on_events = [&] {
    ++presses;
    command_.cmdUpdate_Click();
  };
  command_.cmdUpdate_Click();
  EXPECT_EQ(presses, 1);
  EXPECT_EQ(std::count(form_.steps.begin(), form_.steps.end(), "show lblWait"), 1);
  EXPECT_FALSE(command_.running());
}

}  // namespace
}  // namespace ombrix
