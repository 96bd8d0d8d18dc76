#include "ui/win32/main_window.h"

#include <commctrl.h>

#include <cmath>
#include <string>
#include <system_error>

#include "engine/platform/win32_error.h"
#include "engine/platform/win32_text.h"
#include "ui/font_choice.h"
#include "ui/startup_guard.h"
#include "ui/win32/file_drop.h"
#include "ui/win32/resources/resource.h"

namespace ombrix::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"OmbrixPatchMainWindow";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;
// Control identifiers: kFirstControlId + index in kControls. None is IDOK or IDCANCEL, which
// the dialog manager sends for Enter and Escape.
constexpr int kFirstControlId = 101;

[[noreturn]] void ThrowLastError(const char* what) {
  throw std::system_error(LastWin32Error(), what);
}

int CALLBACK MarkFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;  // one is enough
}

bool FontInstalled(HDC dc, const std::wstring& face) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  face.copy(wanted.lfFaceName, LF_FACESIZE - 1);
  bool found = false;
  ::EnumFontFamiliesExW(dc, &wanted, &MarkFound, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

std::wstring InstalledFace(std::string_view face) {
  HDC dc = ::GetDC(nullptr);
  const std::wstring chosen = WideFromUtf8(
      ChosenFace(face, [dc](std::string_view f) { return FontInstalled(dc, WideFromUtf8(f)); }));
  ::ReleaseDC(nullptr, dc);
  return chosen;
}

UniqueFont MakeFont(const FontDesign& design, int dpi_y) {
  if (design.face.empty()) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    return UniqueFont(::CreateFontIndirectW(&metrics.lfMessageFont));
  }
  LOGFONTW font{};
  font.lfHeight = -static_cast<LONG>(std::lround(design.points * dpi_y / 72.0));
  font.lfWeight = design.bold ? FW_BOLD : FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily =
      FixedPitch(design.face) ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH | FF_SWISS;
  InstalledFace(design.face).copy(font.lfFaceName, LF_FACESIZE - 1);
  return UniqueFont(::CreateFontIndirectW(&font));
}

const wchar_t* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel:
      return L"STATIC";
    case ControlKind::kTextBox:
      return L"EDIT";
    case ControlKind::kButton:
      return L"BUTTON";
  }
  return L"STATIC";
}

DWORD StyleOf(const ControlDesign& design) {
  DWORD style = WS_CHILD | (design.visible_at_start ? WS_VISIBLE : 0);
  switch (design.kind) {
    case ControlKind::kLabel:
      return style | SS_LEFT | SS_NOPREFIX;
    case ControlKind::kTextBox:
      return style | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
    case ControlKind::kButton:
      return style | WS_TABSTOP | BS_PUSHBUTTON;  // not BS_DEFPUSHBUTTON: Enter does not press it
  }
  return style;
}

HICON LoadAppIcon(HINSTANCE instance, int size) {
  return static_cast<HICON>(
      ::LoadImageW(instance, MAKEINTRESOURCEW(IDI_OMBRIX_PATCH), IMAGE_ICON, size, size, 0));
}

// Registers the window class once per process; its icons live as long as the class.
void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  if (::GetClassInfoExW(instance, kWindowClass, &window_class)) return;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.hIcon = LoadAppIcon(instance, ::GetSystemMetrics(SM_CXICON));
  window_class.hIconSm = LoadAppIcon(instance, ::GetSystemMetrics(SM_CXSMICON));
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWindowClass;
  if (::RegisterClassExW(&window_class) == 0) ThrowLastError("RegisterClassExW");
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {
  const INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  HDC screen = ::GetDC(nullptr);
  dpi_x_ = ::GetDeviceCaps(screen, LOGPIXELSX);
  dpi_y_ = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);

  RegisterWindowClass(instance, &MainWindow::WindowProc);

  RECT frame = {0, 0, TwipsToPixels(kWindowDesign.client_width, dpi_x_),
                TwipsToPixels(kWindowDesign.client_height, dpi_y_)};
  ::AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  const std::wstring title = WideFromUtf8(kWindowDesign.title);
  if (::CreateWindowExW(kWindowExStyle, kWindowClass, title.c_str(), kWindowStyle, CW_USEDEFAULT,
                        CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                        nullptr, instance, this) == nullptr) {
    ThrowLastError("CreateWindowExW");
  }
  CreateControls();
  // Label4 names the box; left alone, screen readers would read the heading before it.
  box_name_.Set(control(ControlId::txtFilePath), WideFromUtf8(Design(ControlId::Label4).text));
  AcceptFileDrops(hwnd_);
}

MainWindow::~MainWindow() {
  if (hwnd_ != nullptr) {
    shown_ = false;  // no WM_QUIT for a window destroyed with its owner
    ::DestroyWindow(hwnd_);
  }
  if (claim_ != nullptr) ::CloseHandle(claim_);
}

void MainWindow::CreateControls() {
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    const ControlDesign& design = kControls[i];
    const std::wstring text = WideFromUtf8(design.text);
    const DWORD ex_style = design.kind == ControlKind::kTextBox ? WS_EX_CLIENTEDGE : 0;
    // Created in tab order: the dialog manager moves the focus in creation (z) order.
    HWND control = ::CreateWindowExW(
        ex_style, ClassOf(design.kind), text.c_str(), StyleOf(design),
        TwipsToPixels(design.left, dpi_x_), TwipsToPixels(design.top, dpi_y_),
        TwipsToPixels(design.width, dpi_x_), TwipsToPixels(design.height, dpi_y_), hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + static_cast<int>(i))),
        instance_, nullptr);
    if (control == nullptr) ThrowLastError("CreateWindowExW");
    controls_[i] = control;
    fonts_[i] = MakeFont(design.font, dpi_y_);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[i].get()), FALSE);
  }
}

void MainWindow::Show(int show_command) {
  RECT frame;
  ::GetWindowRect(hwnd_, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  ::SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  shown_ = true;
  focus_ = control(ControlId::txtFilePath);
  ::ShowWindow(hwnd_, show_command);
  ::UpdateWindow(hwnd_);
  ::SetFocus(focus_);
}

int MainWindow::RunMessageLoop() {
  MSG message;
  for (;;) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return kExitError;
    Dispatch(message);
  }
}

void MainWindow::Dispatch(MSG& message) {
  if (hwnd_ != nullptr && ::IsDialogMessageW(hwnd_, &message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  MainWindow* window = nullptr;
  if (message == WM_NCCREATE) {
    window = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    window->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  } else {
    window = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (window == nullptr) return ::DefWindowProcW(hwnd, message, wparam, lparam);
  return window->HandleMessage(message, wparam, lparam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_CTLCOLORSTATIC:
      return OnCtlColorStatic(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_ACTIVATE:
      OnActivate(LOWORD(wparam) != WA_INACTIVE);
      return 0;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wparam));
      return 0;
    case WM_CLOSE:
      if (command_.running()) return 0;  // the run's own message box follows
      ::DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      box_name_.Clear();
      if (shown_) ::PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      controls_ = {};
      return 0;
    default:
      return ::DefWindowProcW(hwnd_, message, wparam, lparam);
  }
}

void MainWindow::OnCommand(WORD id, WORD notification) {
  const int update_id = kFirstControlId + static_cast<int>(ControlId::cmdUpdate);
  const bool pressed = id == update_id && notification == BN_CLICKED;
  // Enter reaches the window as IDOK; it presses the button only when the button has the focus.
  const bool entered = id == IDOK && ::GetFocus() == control(ControlId::cmdUpdate);
  if (pressed || entered) command_.cmdUpdate_Click();
}

LRESULT MainWindow::OnCtlColorStatic(HDC dc, HWND label) {
  COLORREF colour = ::GetSysColor(COLOR_BTNTEXT);
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    if (controls_[i] == label && kControls[i].colour) {
      const Rgb& rgb = *kControls[i].colour;
      colour = RGB(rgb.red, rgb.green, rgb.blue);
    }
  }
  ::SetTextColor(dc, colour);
  ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
}

void MainWindow::OnActivate(bool active) {
  if (!active) {
    HWND focus = ::GetFocus();
    if (focus != nullptr && ::IsChild(hwnd_, focus)) focus_ = focus;
  } else if (focus_ != nullptr) {
    ::SetFocus(focus_);
  }
}

void MainWindow::OnDropFiles(HDROP drop) {
  HWND box = control(ControlId::txtFilePath);
  if (!TypeFirstDroppedFile(drop, box)) return;
  focus_ = box;  // kept if the window is not active yet
  ::SetFocus(box);
}

std::filesystem::path MainWindow::FilePath() {
  HWND box = control(ControlId::txtFilePath);
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(box)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
  return std::filesystem::path(text);
}

void MainWindow::SetWaitVisible(bool visible) {
  ::ShowWindow(control(ControlId::lblWait), visible ? SW_SHOWNA : SW_HIDE);
}

void MainWindow::ProcessPendingEvents() {
  if (hwnd_ != nullptr) ::UpdateWindow(hwnd_);
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));  // for the message loop
      break;
    }
    Dispatch(message);
  }
}

void MainWindow::ShowMessage(std::string_view text, std::string_view title) {
  const std::wstring wide_text = WideFromUtf8(text);
  const std::wstring wide_title = WideFromUtf8(title);
  // MB_OK without an icon flag: one OK button and no icon. With no window left (a refusal at
  // start), the box is modal to the whole task.
  const UINT owner_flags = hwnd_ != nullptr ? MB_APPLMODAL : MB_TASKMODAL;
  ::MessageBoxW(hwnd_, wide_text.c_str(), wide_title.c_str(),
                MB_OK | owner_flags | MB_SETFOREGROUND);
}

void MainWindow::Beep() { ::MessageBeep(MB_OK); }

std::string MainWindow::Title() {
  std::wstring title(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd_)) + 1, L'\0');
  title.resize(static_cast<std::size_t>(
      ::GetWindowTextW(hwnd_, title.data(), static_cast<int>(title.size()))));
  return Utf8FromWide(title);
}

void MainWindow::SetTitle(std::string_view title) {
  ::SetWindowTextW(hwnd_, WideFromUtf8(title).c_str());
}

void MainWindow::Unload() {
  if (hwnd_ == nullptr) return;
  shown_ = false;
  ::DestroyWindow(hwnd_);
}

void MainWindow::EndProgram(int exit_code) { ::ExitProcess(static_cast<UINT>(exit_code)); }

bool MainWindow::ClaimTitle(std::string_view title) {
  // The first copy creates the mutex; Windows removes it with the last handle to it, however
  // the process that held it ended.
  const std::wstring name = L"Local\\" + WideFromUtf8(ClaimName(title));
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD error = ::GetLastError();
  if (mutex == nullptr) {
    // A copy run as administrator made it, and this one may not open it; any other failure
    // leaves the window look-up alone to decide.
    return error != ERROR_ACCESS_DENIED;
  }
  // Under Wine a Linux copy of the tool claims the title in lock files of its own.
  linux_claims_ = WineClaimsOfThisUser();
  if (error == ERROR_ALREADY_EXISTS || !linux_claims_->Claim(title)) {
    ::CloseHandle(mutex);
    return false;
  }
  claim_ = mutex;
  return true;
}

bool MainWindow::TopLevelWindowExists(std::string_view title) {
  // FindWindowA takes the title in the system's ANSI code page.
  const std::wstring wide = WideFromUtf8(title);
  const int size = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), size, nullptr, nullptr);
  return ::FindWindowA(nullptr, ansi.c_str()) != nullptr;
}

}  // namespace ombrix::win32
