// Bad paths of Windows: devices, reserved names, namespaces, characters a name may not hold.
#include "engine/run/bad_paths_test.h"

namespace ombrix::test {

std::vector<BadPath> PlatformBadPaths() {
  const auto named = [](std::wstring path) {
    return [path](const TempFolder&) { return std::filesystem::path(path); };
  };
  return {
      {"reserved name NUL", named(L"NUL")},
      {"reserved name CON in a folder", [](const TempFolder& f) { return f / "CON"; }},
      {"reserved name COM1", named(L"COM1")},
      {"device namespace", named(L"\\\\.\\NUL")},
      {"physical drive", named(L"\\\\.\\PhysicalDrive0")},
      {"drive without a path (its current folder)", named(L"C:")},
      {"long-path prefix to a missing file", named(L"\\\\?\\C:\\Programfiler\\Ombrix\\Ombrix.exe")},
      {"wildcard", [](const TempFolder& f) { return f / "*.exe"; }},
      {"characters a name may not hold", [](const TempFolder& f) { return f / "Om<b>r|x.exe"; }},
      {"alternate data stream of a missing file",
       [](const TempFolder& f) { return f / "Ombrix.exe:stream"; }},
  };
}

}  // namespace ombrix::test
