#include "ui/form_design.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

TEST(FormDesignTest, WindowAsDesigned) {
  EXPECT_EQ(kWindowDesign.name, "frmMain");
  EXPECT_EQ(kWindowDesign.title, "[_ Ombrix 2000 _|");
  EXPECT_EQ(kWindowDesign.title.size(), 17u);
  EXPECT_EQ(kWindowDesign.client_width, 6705);
  EXPECT_EQ(kWindowDesign.client_height, 2730);
}

// The table as written down for the form, row by row.
TEST(FormDesignTest, ControlsAsDesignedInTabOrder) {
  struct Row {
    std::string_view name, text;
    ControlKind kind;
    int left, top, width, height;
    std::string_view face;
    double points;
    bool bold, blue, visible;
  };
  const Row rows[] = {
      {"Label2", "Ombrix Norwegian Language Patch", ControlKind::kLabel, 840, 120, 5415, 495,
       "Courier New", 11.25, true, true, true},
      {"txtFilePath", "C:\\Programfiler\\Ombrix\\Ombrix.exe", ControlKind::kTextBox, 240, 1440,
       6255, 375, "Courier New", 9.75, false, false, true},
      {"Label4", "Please Enter the Path of the Ombrix Executable Program:", ControlKind::kLabel, 0,
       960, 6735, 375, "Courier New", 8.25, false, true, true},
      {"cmdUpdate", "Perform Update", ControlKind::kButton, 2280, 2160, 1935, 375, "", 0, false,
       false, true},
      {"lblWait", "Please Wait...", ControlKind::kLabel, 4560, 2160, 2055, 255, "MS Sans Serif", 12,
       true, false, false},
  };
  ASSERT_EQ(std::size(rows), kControls.size());
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    const ControlDesign& control = kControls[i];
    const Row& row = rows[i];
    SCOPED_TRACE(row.name);
    EXPECT_EQ(control.name, row.name);
    EXPECT_EQ(control.text, row.text);
    EXPECT_EQ(control.kind, row.kind);
    EXPECT_EQ(control.left, row.left);
    EXPECT_EQ(control.top, row.top);
    EXPECT_EQ(control.width, row.width);
    EXPECT_EQ(control.height, row.height);
    EXPECT_EQ(control.font.face, row.face);
    EXPECT_EQ(control.font.points, row.points);
    EXPECT_EQ(control.font.bold, row.bold);
    EXPECT_EQ(control.colour == kBlue, row.blue);
    EXPECT_EQ(control.visible_at_start, row.visible);
    EXPECT_EQ(control.tab_index, static_cast<int>(i));
  }
  EXPECT_EQ(Design(ControlId::lblWait).name, "lblWait");
  EXPECT_EQ(Design(ControlId::txtFilePath).name, "txtFilePath");
}

TEST(FormDesignTest, MessagesKeepTheirTwoBlanks) {
  EXPECT_EQ(kInvalidPathMessage.text, "File Path is Invalid.  Enter correct path and try again.");
  EXPECT_EQ(kInvalidPathMessage.title, "Error");
  EXPECT_EQ(kNotApplicableMessage.text,
            "Can not update now.  Program has already been updated or File Path is invalid.");
  EXPECT_EQ(kNotApplicableMessage.title, "Ombrix 2000");
  EXPECT_EQ(kCompletedMessage.text, "Update is complete!");
  EXPECT_EQ(kCompletedMessage.title, "Ombrix 2000");
  EXPECT_EQ(kRefusalMessage.text, "Ombrix 2000 should not be running at this time.");
  EXPECT_EQ(kRefusalMessage.title, "[_ Ombrix 2000 _|");
}

TEST(TwipsToPixelsTest, FifteenTwipsAPixelAt96DotsPerInch) {
  EXPECT_EQ(TwipsToPixels(6705, 96), 447);
  EXPECT_EQ(TwipsToPixels(2730, 96), 182);
  EXPECT_EQ(TwipsToPixels(15, 96), 1);
  EXPECT_EQ(TwipsToPixels(7, 96), 0);
  EXPECT_EQ(TwipsToPixels(8, 96), 1);
  EXPECT_EQ(TwipsToPixels(6705, 144), 671);  // 670.5 rounds up
  EXPECT_EQ(TwipsToPixels(2730, 192), 364);
}

}  // namespace
}  // namespace ombrix
