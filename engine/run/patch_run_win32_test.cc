// What a run promises on Windows: a file held open by a running program, file attributes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>

#include "engine/run/patch_run.h"
#include "engine/testing/test_files.h"
#include "frontend/run_words.h"

namespace ombrix {
namespace {

using test::ReadBytes;
using test::SameBytes;
using test::TempFolder;
using test::WriteBytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

using RunPatchWin32Test = test::TargetTest;

// A run on `target` fails because a running program holds it, and says so.
void ExpectInUse(const std::filesystem::path& target) {
  try {
    RunPatch(target);
    ADD_FAILURE() << "no error";
  } catch (const PatchError& error) {
    EXPECT_THAT(RunErrorReason(error), HasSubstr("in use by another program"));
    EXPECT_EQ(error.target(), TargetState::kUnchanged);
  }
}

TEST_F(RunPatchWin32Test, TargetHeldOpenWithoutSharingItsDeletionIsInUse) {
  WriteBytes(target_, sample_.unpatched);
  // Another program reads and writes it, and lets others do so, but not remove or rename it.
  const HANDLE held = ::CreateFileW(target_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ExpectInUse(target_);
  ::CloseHandle(held);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
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

// Run only by the next test, in a copy of this program that stands for a running Ombrix: says
// on standard output that it runs, then ends by itself once its standard input is closed. A
// process ended from outside (TerminateProcess) while Wine still starts it can keep the test
// program from ending after it passed.
TEST(RunningProgram, DISABLED_StaysRunning) {
  DWORD count = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), "r", 1, &count, nullptr);
  char byte;
  while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &count, nullptr) && count > 0) {
  }
}

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
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE in_read, in_write, out_read, out_write;
  ASSERT_TRUE(::CreatePipe(&in_read, &in_write, &inherit, 0));
  ASSERT_TRUE(::CreatePipe(&out_read, &out_write, &inherit, 0));
  ::SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in_read;
  startup.hStdOutput = out_write;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION running{};
  const BOOL started =
      ::CreateProcessW(target_.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                       CREATE_NO_WINDOW, nullptr, nullptr, &startup, &running);
  ::CloseHandle(in_read);
  ::CloseHandle(out_write);
  ASSERT_TRUE(started);
  // Once it runs its test, the program has been started in full.
  char byte = 0;
  DWORD count = 0;
  const bool runs = ::ReadFile(out_read, &byte, 1, &count, nullptr) && count == 1;
  ::CloseHandle(out_read);
  if (runs) ExpectInUse(target_);
  ::CloseHandle(in_write);  // tells it to end
  const DWORD ended = ::WaitForSingleObject(running.hProcess, 30000);
  if (ended != WAIT_OBJECT_0) ::TerminateProcess(running.hProcess, 1);
  ::CloseHandle(running.hThread);
  ::CloseHandle(running.hProcess);
  ASSERT_TRUE(runs) << "the running program did not start";
  EXPECT_EQ(ended, WAIT_OBJECT_0) << "the running program did not end when told";
  EXPECT_TRUE(SameBytes(ReadBytes(target_), program));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

// Makes `link` a symbolic link to `target`, a name in the same folder. False when the system
// made none: Windows asks a privilege or developer mode of it, and Wine 8 makes no link at all
// (a Unix link made by another program is followed by the run all the same, but a Windows
// program that starts one under Wine may hang in the new process).
bool MakeSymbolicLink(const std::filesystem::path& link, const std::wstring& target) {
  ::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  const DWORD attributes = ::GetFileAttributesW(link.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The volume and file index of `path`: the same for two names of one file.
std::uint64_t IndexOf(const std::filesystem::path& path) {
  const HANDLE file = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION data{};
  ::GetFileInformationByHandle(file, &data);
  ::CloseHandle(file);
  return (std::uint64_t{data.nFileIndexHigh} << 32 | data.nFileIndexLow) ^
         (std::uint64_t{data.dwVolumeSerialNumber} << 40);
}

TEST_F(RunPatchWin32Test, SymbolicLinkStaysALinkAndTheFileItNamesIsPatched) {
  const std::filesystem::path real = folder_ / "real.exe";
  WriteBytes(real, sample_.unpatched);
  if (!MakeSymbolicLink(target_, L"real.exe")) GTEST_SKIP() << "this system made no link";
  EXPECT_EQ(RunPatch(target_), PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(ReadBytes(real), sample_.patched));
  EXPECT_EQ(IndexOf(target_), IndexOf(real)) << "the link was replaced by a file of its own";
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe", "real.exe"));
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

// The security descriptor of `path`, in the Security Descriptor Definition Language: its owner
// and its access rules (those it inherits marked so).
std::wstring SecurityOf(const std::filesystem::path& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return L"(none)";
  }
  wchar_t* text = nullptr;
  ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
      nullptr);
  std::wstring result = text != nullptr ? text : L"(none)";
  ::LocalFree(text);
  ::LocalFree(descriptor);
  return result;
}

std::uint64_t CreationTimeOf(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return (std::uint64_t{data.ftCreationTime.dwHighDateTime} << 32) |
         data.ftCreationTime.dwLowDateTime;
}

// What the file holds beyond its bytes: kept where the system keeps it. Wine on Linux keeps
// neither a creation time nor a file's own security descriptor, so there the test can only say
// so.
TEST_F(RunPatchWin32Test, CreationTimeAndTheFilesOwnAccessRulesAreKept) {
  WriteBytes(target_, sample_.unpatched);
  const HANDLE file =
      ::CreateFileW(target_.c_str(), FILE_WRITE_ATTRIBUTES | WRITE_DAC | READ_CONTROL,
                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  constexpr std::uint64_t kJanuary2001 = 126227808000000000;
  FILE_BASIC_INFO times{};
  times.CreationTime.QuadPart = kJanuary2001;
  ::SetFileInformationByHandle(file, FileBasicInfo, &times, sizeof(times));
  // The file's own rules, inheriting none: everyone may read it, its owner do anything.
  PSECURITY_DESCRIPTOR rules = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;FR;;;WD)(A;;FA;;;OW)", SDDL_REVISION_1, &rules, nullptr));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ::GetSecurityDescriptorDacl(rules, &present, &dacl, &defaulted);
  ::SetSecurityInfo(file, SE_FILE_OBJECT,
                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                    nullptr, dacl, nullptr);
  ::LocalFree(rules);
  ::CloseHandle(file);
  const bool times_kept = CreationTimeOf(target_) == kJanuary2001;
  const std::wstring security = SecurityOf(target_);
  const bool rules_kept = security.find(L"D:P") != std::wstring::npos;

  EXPECT_EQ(RunPatch(target_), PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
  if (times_kept) {
    EXPECT_EQ(CreationTimeOf(target_), kJanuary2001);
  }
  if (rules_kept) {
    EXPECT_EQ(SecurityOf(target_), security);
  }
  if (!times_kept || !rules_kept) {
    GTEST_SKIP() << "this system keeps no" << (times_kept ? "" : " creation time")
                 << (!times_kept && !rules_kept ? " and no" : "")
                 << (rules_kept ? "" : " security descriptor of a file's own")
                 << ", so a run cannot be seen to keep it";
  }
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
