#include "ui/startup_guard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ui/recording_form_test.h"

namespace ombrix {
namespace {

using ::testing::ElementsAre;

TEST(StartupGuardTest, MarksTheTitleWhenNoMarkedWindowExists) {
  test::RecordingForm form;
  Form_Load(form);
  EXPECT_THAT(form.steps, ElementsAre("title [_ Ombrix 2000 _|", "claim [_ Ombrix 2000 _| ",
                                      "find [_ Ombrix 2000 _| ", "set title [_ Ombrix 2000 _| "));
  EXPECT_EQ(form.title.size(), 18u);  // the design title and one blank
}

TEST(StartupGuardTest, WindowWithTheUnmarkedTitleDoesNotStopTheTool) {
  test::RecordingForm form;
  form.other_windows = {"[_ Ombrix 2000 _|", "[_ Ombrix 2000 _|  "};
  Form_Load(form);
  EXPECT_EQ(form.steps.back(), "set title [_ Ombrix 2000 _| ");
}

TEST(StartupGuardTest, RefusesAfterUnloadingWhenAMarkedWindowExists) {
  test::RecordingForm form;
  form.other_windows = {"[_ Ombrix 2000 _| "};
  Form_Load(form);
  EXPECT_THAT(form.steps,
              ElementsAre("title [_ Ombrix 2000 _|", "claim [_ Ombrix 2000 _| ",
                          "find [_ Ombrix 2000 _| ", "unload", "beep",
                          "message [[_ Ombrix 2000 _|] Ombrix 2000 should not be running at this "
                          "time.",
                          "end 0"));
}

// A copy started at the same instant holds the claim while its window is not yet on screen.
TEST(StartupGuardTest, RefusesWhenAnotherCopyHoldsTheClaim) {
  test::RecordingForm form;
  form.claimed_elsewhere = {"[_ Ombrix 2000 _| "};
  Form_Load(form);
  EXPECT_THAT(form.steps,
              ElementsAre("title [_ Ombrix 2000 _|", "claim [_ Ombrix 2000 _| ", "unload", "beep",
                          "message [[_ Ombrix 2000 _|] Ombrix 2000 should not be running at this "
                          "time.",
                          "end 0"));
}

TEST(StartupGuardTest, ClaimNameHoldsAnyTitleAsHexadecimal) {
  EXPECT_EQ(ClaimName("[_ \\/\xc3\xa6"), "ombrix-patch-5b5f205c2fc3a6");
}

}  // namespace
}  // namespace ombrix
