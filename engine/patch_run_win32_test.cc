// What a run promises on Windows: a file held open by a running program, file attributes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include "engine/patch_run.h"
#include "engine/testing/test_files.h"

namespace ombrix {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::ReadBytes;
using testing::SameBytes;
using testing::TempFolder;
using testing::WriteBytes;

using RunPatchWin32Test = testing::TargetTest;

// A run on `target` fails because a running program holds it, and says so.
void ExpectInUse(const std::filesystem::path& target) {
  try {
    RunPatch(target);
    ADD_FAILURE() << "no error";
  } catch (const PatchError& error) {
    EXPECT_THAT(error.step(), HasSubstr("in use by a running program"));
    EXPECT_EQ(error.target(), TargetState::kUnchanged);
  }
}

TEST_F(RunPatchWin32Test, TargetInUseGivesAnErrorThatSaysSo) {
  WriteBytes(target_, sample_.unpatched);
  // As Windows holds a running program's file: readable, but neither writable nor removable.
  const HANDLE held = ::CreateFileW(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ExpectInUse(target_);
  ::CloseHandle(held);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

// Run only by the next test, in a copy of this program that stands for a running Ombrix.
TEST(RunningProgram, DISABLED_StaysRunning) { ::Sleep(60000); }

TEST_F(RunPatchWin32Test, RunningProgramsFileIsInUseAndStaysAsItWas) {
  wchar_t self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  // This test program, with the English texts after its last byte, is both a program that runs
  // and a target that a run would patch.
  const std::string program = ReadBytes(std::wstring(self, length)) + sample_.unpatched;
  WriteBytes(target_, program);
  std::wstring command_line =
      L"Ombrix.exe --gtest_also_run_disabled_tests "
      L"--gtest_filter=RunningProgram.DISABLED_StaysRunning";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION running{};
  ASSERT_TRUE(::CreateProcessW(target_.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                               CREATE_NO_WINDOW, nullptr, nullptr, &startup, &running));
  ExpectInUse(target_);
  ::TerminateProcess(running.hProcess, 0);
  ::WaitForSingleObject(running.hProcess, INFINITE);
  ::CloseHandle(running.hThread);
  ::CloseHandle(running.hProcess);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), program));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

TEST_F(RunPatchWin32Test, TrailingBlankOrDotNamesTheFileWithoutIt) {
  // As everywhere in Windows: "Ombrix.exe " and "Ombrix.exe." are Ombrix.exe.
  for (const wchar_t* typed : {L"Ombrix.exe ", L"Ombrix.exe."}) {
    WriteBytes(target_, sample_.unpatched);
    EXPECT_EQ(RunPatch(folder_.path() / typed), PatchOutcome::Completed);
    EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
    EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
  }
}

TEST_F(RunPatchWin32Test, ReadOnlyTargetIsAnErrorAndStaysAsItWas) {
  WriteBytes(target_, sample_.unpatched);
  ASSERT_TRUE(::SetFileAttributesW(target_.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_THROW(RunPatch(target_), PatchError);
  ::SetFileAttributesW(target_.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

TEST_F(RunPatchWin32Test, HiddenAttributeIsKept) {
  WriteBytes(target_, sample_.unpatched);
  ASSERT_TRUE(::SetFileAttributesW(target_.c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(RunPatch(target_), PatchOutcome::Completed);
  EXPECT_NE(::GetFileAttributesW(target_.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
}

}  // namespace
}  // namespace ombrix
