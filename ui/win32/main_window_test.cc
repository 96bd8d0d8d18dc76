// frmMain in the test's own process: what another process cannot read of it under Wine
// (fonts, text colours, the icon).
#include "ui/win32/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine/win32_text.h"

namespace ombrix::win32 {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    HDC screen = ::GetDC(nullptr);
    dpi_y_ = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
  }

  LOGFONTW FontOf(ControlId id) {
    LOGFONTW font{};
    const auto handle =
        reinterpret_cast<HFONT>(::SendMessageW(window_.control(id), WM_GETFONT, 0, 0));
    EXPECT_NE(handle, nullptr);
    ::GetObjectW(handle, sizeof(font), &font);
    return font;
  }

  COLORREF TextColourOf(ControlId id) {
    HDC dc = ::GetDC(window_.hwnd());
    ::SendMessageW(window_.hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(window_.control(id)));
    const COLORREF colour = ::GetTextColor(dc);
    ::ReleaseDC(window_.hwnd(), dc);
    return colour;
  }

  MainWindow window_{::GetModuleHandleW(nullptr)};
  int dpi_y_;
};

TEST_F(MainWindowTest, FontsAreTheDesignsOrTheirSubstitutes) {
  for (const ControlId id :
       {ControlId::Label2, ControlId::txtFilePath, ControlId::Label4, ControlId::lblWait}) {
    const FontDesign& design = Design(id).font;
    SCOPED_TRACE(Design(id).name);
    const LOGFONTW font = FontOf(id);
    const std::string face = Utf8FromWide(font.lfFaceName);
    const auto substitutes = FontSubstitutes(design.face);
    EXPECT_TRUE(face == design.face ||
                std::find(substitutes.begin(), substitutes.end(), face) != substitutes.end())
        << face;
    EXPECT_EQ(font.lfHeight, -std::lround(design.points * dpi_y_ / 72.0));
    EXPECT_EQ(font.lfWeight, design.bold ? FW_BOLD : FW_NORMAL);
  }
}

TEST_F(MainWindowTest, ButtonHasTheDefaultDialogFont) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  const LOGFONTW font = FontOf(ControlId::cmdUpdate);
  EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
  EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight);
}

TEST_F(MainWindowTest, LabelsAreBlueAsDesigned) {
  EXPECT_EQ(TextColourOf(ControlId::Label2), RGB(0, 0, 255));
  EXPECT_EQ(TextColourOf(ControlId::Label4), RGB(0, 0, 255));
  EXPECT_EQ(TextColourOf(ControlId::lblWait), ::GetSysColor(COLOR_BTNTEXT));
}

TEST_F(MainWindowTest, WindowCarriesItsOwnIcon) {
  const auto icon = reinterpret_cast<HICON>(::GetClassLongPtrW(window_.hwnd(), GCLP_HICON));
  ASSERT_NE(icon, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(::GetIconInfo(icon, &info));
  BITMAP bitmap{};
  ::GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
  EXPECT_EQ(bitmap.bmWidth, ::GetSystemMetrics(SM_CXICON));
  ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
}

TEST_F(MainWindowTest, StartsHiddenWithTheDesignTitleAndDefaultPath) {
  EXPECT_FALSE(::IsWindowVisible(window_.hwnd()));
  EXPECT_EQ(window_.Title(), kWindowDesign.title);
  EXPECT_EQ(window_.FilePath(), std::filesystem::path(L"C:\\Programfiler\\Ombrix\\Ombrix.exe"));
}

TEST_F(MainWindowTest, UnloadDestroysTheWindowWithoutEndingTheMessageLoop) {
  window_.Unload();
  EXPECT_FALSE(window_.loaded());
  MSG message;
  EXPECT_FALSE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
      << "a WM_QUIT left behind would close the next message box at once";
}

}  // namespace
}  // namespace ombrix::win32
