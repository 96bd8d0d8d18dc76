// Every form of path that Windows opens a file by finds the file's folder, whatever its length:
// from the final path where the system gives one, else from the path itself (Wine gives no final
// path past MAX_PATH).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "engine/platform/file_system.h"
#include "engine/run/patch_run.h"
#include "engine/testing/test_files.h"
#include "frontend/path_text.h"

namespace ombrix {
namespace {

using test::ReadBytes;
using test::SameBytes;

// How a test writes a full path "C:\...\Ombrix.exe"; empty where this system offers no such
// form of it.
enum class Form { kDrive, kPrefixed, kShare, kVolume };

std::wstring InForm(Form form, const std::wstring& path) {
  switch (form) {
    case Form::kDrive:
      return path;
    case Form::kPrefixed:
      return L"\\\\?\\" + path;
    case Form::kShare:  // the drive's administrative share on this machine
      return L"\\\\?\\UNC\\localhost\\" + path.substr(0, 1) + L"$" + path.substr(2);
    case Form::kVolume: {
      wchar_t volume[MAX_PATH];
      if (!::GetVolumeNameForVolumeMountPointW(path.substr(0, 3).c_str(), volume, MAX_PATH)) {
        return {};
      }
      return volume + path.substr(3);
    }
  }
  return {};
}

struct PathForm {
  const char* id;    // the test's name
  const char* name;  // in words
  Form form;
  std::size_t length;  // at least, in characters; 0: as short as it comes
};

void PrintTo(const PathForm& row, std::ostream* out) { *out << row.name; }

// Whether a new copy of `target`, a "\\?\" path of any length, was left beside it.
bool CopyLeftBeside(const std::wstring& target) {
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW((target + L".ombrix-patch-*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
  return search != INVALID_HANDLE_VALUE;
}

class OpenFolderTest : public test::TargetTest, public ::testing::WithParamInterface<PathForm> {
 protected:
  ~OpenFolderTest() override {
    ::DeleteFileW(long_target_.c_str());
    for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) {
      ::RemoveDirectoryW(folder->c_str());
    }
  }

  // The target, in folders deep enough under the test's folder for its path in `form` to be
  // `length` characters long.
  std::wstring TargetInForm(const PathForm& row) {
    std::wstring folder = folder_.path().wstring();
    const std::wstring name = L"\\Ombrix.exe";
    while (InForm(row.form, folder + name).size() < row.length) {
      folder += L"\\" + std::wstring(std::min<std::size_t>(
                                         60, row.length - InForm(row.form, folder + name).size()),
                                     L'd');
      made_.push_back(L"\\\\?\\" + folder);
      ::CreateDirectoryW(made_.back().c_str(), nullptr);
    }
    long_target_ = L"\\\\?\\" + folder + name;
    test::WriteBytes(long_target_, sample_.unpatched);
    return InForm(row.form, folder + name);
  }

  std::vector<std::wstring> made_;
  std::wstring long_target_;  // as a "\\?\" path
};

TEST_P(OpenFolderTest, FindsTheFolderAndTheRunPatchesTheFile) {
  const std::wstring path = TargetInForm(GetParam());
  Target target;
  FileSystem& files = RealFileSystem();
  if (path.empty() || files.Open(path, target)) {
    GTEST_SKIP() << "this system opens no file by " << GetParam().name;
  }
  Folder folder;
  ASSERT_FALSE(files.OpenFolder(path, target.file, folder)) << Utf8(path);
  EXPECT_EQ(folder.name, L"Ombrix.exe");
  target = Target();
  folder = Folder();

  EXPECT_EQ(RunPatch(path), PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(ReadBytes(long_target_), sample_.patched));
  EXPECT_FALSE(CopyLeftBeside(long_target_));
}

INSTANTIATE_TEST_SUITE_P(
    PathForms, OpenFolderTest,
    ::testing::Values(
        PathForm{"Drive", "a drive path", Form::kDrive, 0},
        PathForm{"DriveLong", "a drive path past MAX_PATH", Form::kDrive, 300},
        PathForm{"Prefixed", "\\\\?\\ with a drive", Form::kPrefixed, 0},
        PathForm{"Prefixed291", "\\\\?\\ with a drive, 291 characters", Form::kPrefixed, 291},
        PathForm{"Prefixed1000", "\\\\?\\ with a drive, 1000 characters", Form::kPrefixed, 1000},
        PathForm{"Share", "\\\\?\\UNC\\", Form::kShare, 0},
        PathForm{"ShareLong", "\\\\?\\UNC\\ past MAX_PATH", Form::kShare, 300},
        PathForm{"Volume", "\\\\?\\Volume{...}\\", Form::kVolume, 0},
        PathForm{"VolumeLong", "\\\\?\\Volume{...}\\ past MAX_PATH", Form::kVolume, 300}),
    [](const ::testing::TestParamInfo<PathForm>& row) { return std::string(row.param.id); });

}  // namespace
}  // namespace ombrix
