// The real ombrix-patch.exe, started as its own process and worked from outside.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/platform/win32_text.h"
#include "engine/testing/test_files.h"
#include "ui/form_design.h"
#include "ui/startup_guard.h"
#include "ui/win32/tool_driver_test.h"
#include "version.h"

namespace ombrix {
namespace {

using test::Dismiss;
using test::MessageBoxView;
using test::Press;
using test::ReadBytes;
using test::SameBytes;
using test::ToolProcess;
using test::Type;
using test::WaitUntil;
using test::WriteBytes;
using namespace std::chrono_literals;

const std::wstring kMarkedTitle = WideFromUtf8(kWindowDesign.title) + L" ";

std::wstring Wide(std::string_view text) { return WideFromUtf8(text); }

class MainWindowE2eTest : public test::TargetTest {
 protected:
  void SetUp() override {
    window_ = tool_.WaitForWindow(kMarkedTitle);
    ASSERT_NE(window_, nullptr) << "the tool's window did not appear: " << tool_.Seen();
  }

  HWND Control(ControlId id) const {
    const std::vector<HWND> children = test::ChildrenOf(window_);
    return children.at(static_cast<std::size_t>(id));
  }
  bool WaitVisible() const { return ::IsWindowVisible(Control(ControlId::lblWait)) != FALSE; }

  // Types the path, presses the button and returns the message box that follows, with whether
  // "Please Wait..." was visible while it was shown.
  MessageBoxView PressWith(const std::filesystem::path& path, bool& wait_visible) {
    if (!Type(Control(ControlId::txtFilePath), path.wstring())) {
      ADD_FAILURE() << "the path could not be typed";
      return {};
    }
    Press(Control(ControlId::cmdUpdate));
    const std::optional<MessageBoxView> box = tool_.WaitForMessageBox();
    if (!box) {
      ADD_FAILURE() << "no message box: " << tool_.Seen();
      return {};
    }
    wait_visible = WaitVisible();
    EXPECT_EQ(box->buttons, 1);
    EXPECT_FALSE(box->has_icon);
    EXPECT_EQ(::GetWindow(box->box, GW_OWNER), window_) << "the box is owned by the window";
    return *box;
  }

  ToolProcess tool_;
  HWND window_ = nullptr;
};

TEST_F(MainWindowE2eTest, OpensAsDesignedWithTheMarkedTitle) {
  HDC screen = ::GetDC(nullptr);
  const int dpi_x = ::GetDeviceCaps(screen, LOGPIXELSX);
  const int dpi_y = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);

  RECT client;
  ::GetClientRect(window_, &client);
  EXPECT_EQ(client.right, TwipsToPixels(kWindowDesign.client_width, dpi_x));
  EXPECT_EQ(client.bottom, TwipsToPixels(kWindowDesign.client_height, dpi_y));
  RECT frame;
  ::GetWindowRect(window_, &frame);
  EXPECT_NEAR((frame.left + frame.right) / 2, ::GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((frame.top + frame.bottom) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 1);

  const std::vector<HWND> children = test::ChildrenOf(window_);
  ASSERT_EQ(children.size(), kControls.size());
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    const ControlDesign& design = kControls[i];
    SCOPED_TRACE(design.name);
    HWND control = children[i];  // z order is the tab order
    const wchar_t* expected_class = design.kind == ControlKind::kLabel     ? L"Static"
                                    : design.kind == ControlKind::kTextBox ? L"Edit"
                                                                           : L"Button";
    EXPECT_EQ(_wcsicmp(test::ClassOf(control).c_str(), expected_class), 0);
    EXPECT_EQ(test::TextOf(control), Wide(design.text));
    const RECT rect = test::RectIn(control, window_);
    EXPECT_EQ(rect.left, TwipsToPixels(design.left, dpi_x));
    EXPECT_EQ(rect.top, TwipsToPixels(design.top, dpi_y));
    EXPECT_EQ(rect.right - rect.left, TwipsToPixels(design.width, dpi_x));
    EXPECT_EQ(rect.bottom - rect.top, TwipsToPixels(design.height, dpi_y));
    EXPECT_EQ(::IsWindowVisible(control) != FALSE, design.visible_at_start);
  }
  EXPECT_EQ(tool_.Focus(window_), Control(ControlId::txtFilePath));
}

TEST_F(MainWindowE2eTest, MissingFileHidesTheLabelBeforeTheErrorAndACorrectedPathPatches) {
  bool wait_visible = true;
  const MessageBoxView error = PressWith(folder_ / "Ombrx.exe", wait_visible);
  EXPECT_EQ(error.title, L"Error");
  EXPECT_EQ(error.text, Wide(kInvalidPathMessage.text));
  EXPECT_FALSE(wait_visible);
  Dismiss(error);
  EXPECT_TRUE(WaitUntil([&] { return tool_.WaitForMessageBox(0ms) == std::nullopt; }));
  EXPECT_TRUE(::IsWindowVisible(window_));

  WriteBytes(target_, sample_.unpatched);
  const MessageBoxView done = PressWith(target_, wait_visible);
  EXPECT_EQ(done.text, Wide(kCompletedMessage.text));
  EXPECT_TRUE(wait_visible);
  Dismiss(done);
  EXPECT_EQ(tool_.WaitForExit(), 0u);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
}

TEST_F(MainWindowE2eTest, PatchedFileShowsItsMessageWhileWaitingAndHidesTheLabelAfter) {
  WriteBytes(target_, sample_.patched);
  bool wait_visible = false;
  const MessageBoxView box = PressWith(target_, wait_visible);
  EXPECT_EQ(box.title, Wide(kNotApplicableMessage.title));
  EXPECT_EQ(box.text, Wide(kNotApplicableMessage.text));
  EXPECT_TRUE(wait_visible);
  Dismiss(box);
  EXPECT_TRUE(WaitUntil([&] { return !WaitVisible(); }));
  EXPECT_EQ(tool_.WaitForExit(300ms), std::nullopt) << "the window stays open";
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
}

TEST_F(MainWindowE2eTest, PathWithNorwegianLettersIsPatched) {
  const std::filesystem::path target = folder_ / L"\u00d8mbrix \u00e6\u00f8\u00e5.exe";
  WriteBytes(target, sample_.unpatched);
  bool wait_visible = false;
  const MessageBoxView done = PressWith(target, wait_visible);
  EXPECT_EQ(done.text, Wide(kCompletedMessage.text));
  Dismiss(done);
  EXPECT_EQ(tool_.WaitForExit(), 0u);
  EXPECT_TRUE(SameBytes(ReadBytes(target), sample_.patched));
}

TEST_F(MainWindowE2eTest, ErrorThatEndsARunIsReportedAndEndsTheProgram) {
  WriteBytes(target_, sample_.unpatched);
  // Held as Windows holds a running program: readable, not replaceable.
  const HANDLE held = ::CreateFileW(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  bool wait_visible = false;
  const MessageBoxView box = PressWith(target_, wait_visible);
  EXPECT_EQ(box.title, Wide(kErrorTitle));
  EXPECT_THAT(box.text, ::testing::HasSubstr(target_.wstring()));
  EXPECT_THAT(box.text, ::testing::HasSubstr(L"in use by another program"));
  EXPECT_THAT(box.text, ::testing::HasSubstr(L"The file was left unchanged."));
  Dismiss(box);
  EXPECT_EQ(tool_.WaitForExit(), 1u);
  ::CloseHandle(held);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

TEST_F(MainWindowE2eTest, SecondCopyRefusesWithoutShowingItsWindowAndTheFirstGoesOn) {
  ToolProcess second;
  const std::optional<MessageBoxView> refusal = second.WaitForMessageBox();
  ASSERT_TRUE(refusal) << second.Seen();
  EXPECT_EQ(refusal->title, Wide(kWindowDesign.title));
  EXPECT_EQ(refusal->text, Wide(kRefusalMessage.text));
  EXPECT_EQ(refusal->buttons, 1);
  EXPECT_FALSE(refusal->has_icon);
  EXPECT_EQ(second.VisibleWindows(), std::vector<HWND>{refusal->box}) << "no main window";
  Dismiss(*refusal);
  EXPECT_EQ(second.WaitForExit(), 0u);

  // The first copy still works.
  bool wait_visible = true;
  Dismiss(PressWith(folder_ / "missing.exe", wait_visible));
  EXPECT_TRUE(::IsWindowVisible(window_));
}

// Keyboard input goes to the window that is in front.
void PressKey(WORD key, bool shift = false) {
  std::vector<INPUT> inputs;
  auto add = [&](WORD code, DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = code;
    input.ki.dwFlags = flags;
    inputs.push_back(input);
  };
  if (shift) add(VK_SHIFT, 0);
  add(key, 0);
  add(key, KEYEVENTF_KEYUP);
  if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
  ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

TEST_F(MainWindowE2eTest, TabMovesBetweenBoxAndButtonAndEnterInTheBoxDoesNotPress) {
  ASSERT_TRUE(::SetForegroundWindow(window_));
  ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == window_; }));
  HWND box = Control(ControlId::txtFilePath);
  HWND button = Control(ControlId::cmdUpdate);
  ASSERT_EQ(tool_.Focus(window_), box);

  PressKey(VK_RETURN);
  EXPECT_EQ(tool_.WaitForMessageBox(700ms), std::nullopt) << "Enter pressed the button";
  EXPECT_FALSE(WaitVisible());

  PressKey(VK_TAB);
  EXPECT_TRUE(WaitUntil([&] { return tool_.Focus(window_) == button; }));
  PressKey(VK_TAB);
  EXPECT_TRUE(WaitUntil([&] { return tool_.Focus(window_) == box; }));
  PressKey(VK_TAB, /*shift=*/true);
  EXPECT_TRUE(WaitUntil([&] { return tool_.Focus(window_) == button; }));
}

TEST(StartupGuardE2eTest, WindowWithTheUnmarkedTitleDoesNotStopTheTool) {
  const std::wstring unmarked = WideFromUtf8(kWindowDesign.title);
  HWND foreign = ::CreateWindowExW(0, L"STATIC", unmarked.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                   100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(foreign, nullptr);
  ::ShowWindow(foreign, SW_SHOWNOACTIVATE);
  ToolProcess tool;
  EXPECT_NE(tool.WaitForWindow(kMarkedTitle), nullptr) << tool.Seen();
  EXPECT_EQ(tool.WaitForMessageBox(300ms), std::nullopt);
  ::DestroyWindow(foreign);
}

// Of two copies resumed at the same instant only one opens its window, whatever Wine's window
// list shows meanwhile.
TEST(StartupGuardE2eTest, OfCopiesStartedAtTheSameInstantOneOpensItsWindow) {
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ToolProcess first(ToolProcess::Start::kSuspended);
    ToolProcess second(ToolProcess::Start::kSuspended);
    first.Resume();
    second.Resume();
    const auto refusing = [](const ToolProcess& copy) {
      return copy.WaitForMessageBox(0ms).has_value();
    };
    ASSERT_TRUE(WaitUntil([&] { return refusing(first) || refusing(second); }, 20s))
        << "first: " << first.Seen() << "; second: " << second.Seen();
    ToolProcess& refused = refusing(first) ? first : second;
    ToolProcess& passed = refusing(first) ? second : first;
    EXPECT_NE(passed.WaitForWindow(kMarkedTitle), nullptr) << passed.Seen();
    EXPECT_FALSE(refusing(passed));
    Dismiss(*refused.WaitForMessageBox());
    EXPECT_EQ(refused.WaitForExit(), 0u);
  }
}

// A copy holds the claim before its window has a title: that alone keeps another out.
TEST(StartupGuardE2eTest, ClaimHeldByAnotherCopyStopsTheTool) {
  const std::wstring name = L"Local\\" + WideFromUtf8(ClaimName(MarkedTitle(kWindowDesign.title)));
  HANDLE claim = ::CreateMutexW(nullptr, FALSE, name.c_str());
  ASSERT_NE(claim, nullptr);
  ToolProcess tool;
  const std::optional<MessageBoxView> refusal = tool.WaitForMessageBox();
  ::CloseHandle(claim);
  ASSERT_TRUE(refusal) << tool.Seen();
  EXPECT_EQ(refusal->text, Wide(kRefusalMessage.text));
  Dismiss(*refusal);
  EXPECT_EQ(tool.WaitForExit(), 0u);
}

// The program file itself, read as data: its icon, manifest and version.
class ProgramResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::wstring self(MAX_PATH, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    const std::filesystem::path program =
        std::filesystem::path(self).parent_path() / L"ombrix-patch.exe";
    module_ = ::LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override { ::FreeLibrary(module_); }

  std::string Resource(const wchar_t* type, const wchar_t* name) {
    HRSRC found = ::FindResourceW(module_, name, type);
    if (found == nullptr) return {};
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(module_, found)));
    return std::string(data, ::SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

TEST_F(ProgramResourcesTest, IconIs32By32With16Colours) {
  // GRPICONDIR: reserved, type, count; then 14-byte entries: width, height, colours, ...
  const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
  ASSERT_GE(group.size(), 6u + 14u);
  EXPECT_EQ(group[4], 1) << "one image";
  EXPECT_EQ(static_cast<unsigned char>(group[6]), 32u);
  EXPECT_EQ(static_cast<unsigned char>(group[7]), 32u);
  EXPECT_EQ(static_cast<unsigned char>(group[8]), 16u);
}

TEST_F(ProgramResourcesTest, ManifestAsksForAdministratorsAndCommonControls6) {
  const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
  EXPECT_THAT(manifest, ::testing::HasSubstr("level=\"requireAdministrator\""));
  EXPECT_THAT(manifest, ::testing::HasSubstr("Microsoft.Windows.Common-Controls"));
  EXPECT_THAT(manifest, ::testing::HasSubstr("<dpiAware"));
}

TEST_F(ProgramResourcesTest, VersionIsTheProjects) {
  const std::string version = Resource(RT_VERSION, MAKEINTRESOURCEW(1));
  const std::wstring text(reinterpret_cast<const wchar_t*>(version.data()), version.size() / 2);
  EXPECT_THAT(text, ::testing::HasSubstr(L"ProductVersion"));
  EXPECT_THAT(text, ::testing::HasSubstr(WideFromUtf8(OMBRIX_VERSION_TEXT)));
}

}  // namespace
}  // namespace ombrix
