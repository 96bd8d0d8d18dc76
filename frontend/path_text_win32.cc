#include <windows.h>

#include <cstdio>

#include "engine/platform/win32_text.h"
#include "frontend/path_text.h"

namespace ombrix {
namespace {

// `text` in `code_page`, strictly; nothing where it is not that code page's.
std::wstring Decoded(UINT code_page, std::string_view text) {
  const int size = static_cast<int>(text.size());
  const int length =
      ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  return wide;
}

}  // namespace

// u8string() would refuse a lone surrogate, which a Windows name may hold, with an exception.
std::string Utf8(const std::filesystem::path& path) { return Utf8FromWide(path.native()); }

std::filesystem::path PathFromUtf8(std::string_view text) { return WideFromUtf8(text); }

std::filesystem::path PathFromListText(std::string_view text) {
  if (text.empty()) return {};
  if (std::wstring wide = Decoded(CP_UTF8, text); !wide.empty()) return wide;
  const UINT console = ::GetConsoleCP();
  if (std::wstring wide = Decoded(console != 0 ? console : ::GetOEMCP(), text); !wide.empty()) {
    return wide;
  }
  std::wstring escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      escaped += static_cast<wchar_t>(byte);
      continue;
    }
    wchar_t hex[8];
    std::swprintf(hex, 8, L"\\x%02x", byte);
    escaped += hex;
  }
  return escaped;
}

}  // namespace ombrix
