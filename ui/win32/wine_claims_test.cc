// The Windows program under Wine takes the Linux copies' lock files through drive Z:.
#include "ui/win32/wine_claims.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "engine/testing/test_files.h"

namespace ombrix::win32 {
namespace {

constexpr std::string_view kMarkedTitle = "[_ Ombrix 2000 _| ";

// The Unix path of a folder, as Wine names it.
std::string UnixPath(const std::filesystem::path& path) {
  using UnixFileName = char*(__cdecl*)(const wchar_t*);
  const auto unix_file_name = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unix_file_name != nullptr ? unix_file_name(path.c_str()) : nullptr;
  const std::string unix_path = name != nullptr ? name : "";
  ::HeapFree(::GetProcessHeap(), 0, name);
  return unix_path;
}

TEST(WineClaimsTest, ALockFileHeldByAnotherCopyStopsTheClaimUntilItEnds) {
  if (!RunsUnderWine()) GTEST_SKIP() << "Linux copies exist only beside Wine";
  test::TempFolder folder;
  const std::string runtime = UnixPath(folder.path());
  ASSERT_FALSE(runtime.empty());
  const std::vector<LockFolder> folders = {
      {runtime, false}, {runtime + "/missing", false}, {runtime + "/cache", true}};
  std::filesystem::create_directory(folder / "cache");
  auto first = std::make_unique<WineClaims>(folders, "desk1");
  ASSERT_TRUE(first->Claim(kMarkedTitle));
  EXPECT_FALSE(WineClaims(folders, "desk1").Claim(kMarkedTitle));
  EXPECT_FALSE(WineClaims({folders[0]}, "desk2").Claim(kMarkedTitle)) << "runtime: any host";
  EXPECT_TRUE(WineClaims({folders[2]}, "desk2").Claim(kMarkedTitle)) << "cache: per host";
  EXPECT_TRUE(WineClaims(folders, "desk1").Claim("[_ Ombrix 2000 _|"));
  first.reset();
  EXPECT_TRUE(WineClaims(folders, "desk1").Claim(kMarkedTitle));
  EXPECT_FALSE(std::filesystem::exists(folder / "missing")) << "a folder is never made";
}

}  // namespace
}  // namespace ombrix::win32
