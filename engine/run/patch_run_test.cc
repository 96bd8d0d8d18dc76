#include "engine/run/patch_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "engine/testing/faulty_file_system.h"
#include "engine/testing/test_files.h"
#include "frontend/run_words.h"

namespace ombrix {
namespace {

using test::EnglishImage;
using test::FaultPlan;
using test::FaultyFileSystem;
using test::FileCall;
using test::ReadBytes;
using test::SameBytes;
using test::TempFolder;
using test::WriteBytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using RunPatchTest = test::TargetTest;

TEST_F(RunPatchTest, CompletedRunChangesOnlyTheThreeRanges) {
  WriteBytes(target_, sample_.unpatched);
  EXPECT_EQ(RunPatch(target_), PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

TEST_F(RunPatchTest, SecondRunChangesNothing) {
  WriteBytes(target_, sample_.unpatched);
  ASSERT_EQ(RunPatch(target_), PatchOutcome::Completed);
  EXPECT_EQ(RunPatch(target_), PatchOutcome::NotApplicable);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
}

TEST_F(RunPatchTest, RestoreGivesBackTheOriginalBytesAndNeedsAPatchedFile) {
  WriteBytes(target_, sample_.unpatched);
  EXPECT_EQ(RunPatch(target_, PatchDirection::kRestore), PatchOutcome::NotApplicable);
  ASSERT_EQ(RunPatch(target_), PatchOutcome::Completed);
  EXPECT_EQ(RunPatch(target_, PatchDirection::kRestore), PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
  EXPECT_EQ(RunPatch(folder_ / "missing.exe", PatchDirection::kRestore), PatchOutcome::InvalidPath);
}

TEST_F(RunPatchTest, TargetMissingTheThirdImageIsLeftExactlyAsItWas) {
  std::string bytes = test::Filler(8192);
  test::Place(bytes, 1000, EnglishImage(0));
  test::Place(bytes, 3001, EnglishImage(1));
  WriteBytes(target_, bytes);
  EXPECT_EQ(RunPatch(target_), PatchOutcome::NotApplicable);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), bytes));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

TEST_F(RunPatchTest, PathWithNorwegianLettersIsPatched) {
  const std::filesystem::path folder = folder_ / std::filesystem::path(u8"Programfiler Ømbrix");
  std::filesystem::create_directory(folder);
  const std::filesystem::path target = folder / std::filesystem::path(u8"Ømbrix æøå.exe");
  WriteBytes(target, sample_.unpatched);
  EXPECT_EQ(RunPatch(target), PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(ReadBytes(target), sample_.patched));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

// Read through a small buffer, a file larger than 4 GiB is patched whatever the process's
// address space (a 32-bit program's too), and offsets beyond 4 GiB do not wrap.
TEST_F(RunPatchTest, SparseFileWithTheTextsBeyondFourGiBIsPatched) {
  const std::uint64_t at = (std::uint64_t{1} << 32) + 1;
  {
    std::ofstream out(target_, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(at));
    out.write(sample_.unpatched.data(), static_cast<std::streamsize>(sample_.unpatched.size()));
  }
  const std::uint64_t size = at + sample_.unpatched.size();
  ASSERT_EQ(std::filesystem::file_size(target_), size);
  EXPECT_EQ(RunPatch(target_), PatchOutcome::Completed);
  EXPECT_EQ(std::filesystem::file_size(target_), size);
  std::ifstream in(target_, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(at));
  std::string tail(sample_.patched.size(), '\0');
  in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  EXPECT_TRUE(SameBytes(tail, sample_.patched));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

TEST_F(RunPatchTest, ErrorOnAPathWithNorwegianLettersNamesItInUtf8) {
  const std::filesystem::path target = folder_ / std::filesystem::path(u8"Ømbrix.exe");
  WriteBytes(target, sample_.unpatched);
  FaultyFileSystem files([](FileCall call) { return call == "Flush"; });
  try {
    RunPatch(target, PatchDirection::kApply, {&files});
    FAIL() << "no error";
  } catch (const PatchError& error) {
    EXPECT_EQ(error.path1(), target);
    EXPECT_EQ(error.step(), Step::kFlushCopy);
  }
  EXPECT_TRUE(SameBytes(ReadBytes(target), sample_.unpatched));
}

TEST_F(RunPatchTest, ChangeByAnotherProgramDuringTheRunIsAnErrorAndKeptAsTheyMadeIt) {
  std::string theirs = sample_.unpatched;
  theirs[0] ^= 1;  // as long as before, and still a target
  struct Change {
    FileCall just_before;
    std::string bytes;
  };
  // Another program rewrites the file: its length just before the first read, its content then,
  // and its content while the new copy is written.
  const Change changes[] = {{"ReadAt", sample_.unpatched.substr(1)},
                            {"ReadAt", sample_.unpatched + 'x'},
                            {"ReadAt", theirs},
                            {"Flush", theirs}};
  for (const Change& change : changes) {
    WriteBytes(target_, sample_.unpatched);
    // Dated an hour back, so that the change dates it anew however coarse the file times are.
    std::filesystem::last_write_time(
        target_, std::filesystem::last_write_time(target_) - std::chrono::hours(1));
    bool changed = false;
    FaultyFileSystem files([&](FileCall call) {
      if (call == change.just_before && !changed) {
        changed = true;
        WriteBytes(target_, change.bytes);
      }
      return false;
    });
    const std::string what =
        std::string(change.just_before) + ", " + std::to_string(change.bytes.size());
    try {
      RunPatch(target_, PatchDirection::kApply, {&files});
      ADD_FAILURE() << "no error: " << what;
    } catch (const PatchError& error) {
      EXPECT_EQ(error.code(), make_error_code(PatchErrc::kFileChanged)) << what;
    }
    EXPECT_TRUE(SameBytes(ReadBytes(target_), change.bytes)) << what;
    EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe")) << what;
  }
}

TEST_F(RunPatchTest, ErrorNamesThePathTheStepAndTheReason) {
  WriteBytes(target_, sample_.unpatched);
  FaultPlan plan(0);
  ASSERT_EQ(RunPatch(target_, PatchDirection::kApply, {&plan}), PatchOutcome::Completed);
  const auto first_write = std::find(plan.calls().begin(), plan.calls().end(), "WriteAt");
  ASSERT_NE(first_write, plan.calls().end());
  const int write_number = static_cast<int>(first_write - plan.calls().begin()) + 1;

  WriteBytes(target_, sample_.unpatched);
  FaultPlan failing(write_number);
  try {
    RunPatch(target_, PatchDirection::kApply, {&failing});
    FAIL() << "no error";
  } catch (const PatchError& error) {
    EXPECT_EQ(error.step(), Step::kWriteCopy);
    EXPECT_EQ(error.path1(), target_);
    EXPECT_EQ(error.target(), TargetState::kUnchanged);
    EXPECT_EQ(RunErrorReason(error),
              "Could not write the new copy of the file: " + error.code().message() + ".");
    EXPECT_THAT(error.what(), HasSubstr("Ombrix.exe"));
  }
}

// Every file-system call of a run is made to fail in turn, alone and with every call after it.
// Whatever fails, the target holds exactly its old or exactly its new bytes, nothing else is
// left in the folder, and an error names the step that failed. With OMBRIX_FAULT_MATRIX_REPORT
// set to a file's path, the rows of the matrix are added to that file as a Markdown table.
TEST_F(RunPatchTest, EveryFailingCallLeavesOldOrNewBytesAndNoLeftover) {
  const char* report_path = std::getenv("OMBRIX_FAULT_MATRIX_REPORT");
  std::ofstream report;
  if (report_path != nullptr) report.open(report_path, std::ios::app);
  const char* platform =
      std::filesystem::path::preferred_separator == '\\' ? "Windows (Wine)" : "Linux";
  for (const auto extent : {FaultPlan::Extent::kThatCall, FaultPlan::Extent::kThatCallAndAfter}) {
    for (int fail_at = 1;; ++fail_at) {
      WriteBytes(target_, sample_.unpatched);
      FaultPlan plan(fail_at, extent);
      std::optional<PatchOutcome> outcome;
      std::string step;
      try {
        outcome = RunPatch(target_, PatchDirection::kApply, {&plan});
      } catch (const PatchError& error) {
        step = RunErrorReason(error);
        EXPECT_THAT(step, StartsWith("Could not "));
        EXPECT_EQ(error.target(), TargetState::kUnchanged);
      }
      if (!plan.failed()) {
        EXPECT_EQ(outcome, PatchOutcome::Completed);
        break;
      }
      const std::string call(*plan.failed());
      const std::string context = "call " + std::to_string(fail_at) + " (" + call + ")";
      const std::string bytes = ReadBytes(target_);
      const bool is_new = bytes == sample_.patched;
      EXPECT_TRUE(is_new || bytes == sample_.unpatched) << context;
      EXPECT_EQ(is_new, outcome == PatchOutcome::Completed) << context;
      const std::vector<std::string> names = folder_.Names();
      EXPECT_THAT(names, ElementsAre("Ombrix.exe")) << context;
      if (report.is_open()) {
        const char* answer = outcome == PatchOutcome::Completed     ? "Completed"
                             : outcome == PatchOutcome::InvalidPath ? "InvalidPath"
                             : outcome                              ? "NotApplicable"
                                                                    : "error";
        report << "| " << platform << " | "
               << (extent == FaultPlan::Extent::kThatCall ? "that call" : "that call and after")
               << " | " << fail_at << " | " << call << " | " << answer << " | "
               << (is_new                       ? "new"
                   : bytes == sample_.unpatched ? "old"
                                                : "**damaged**")
               << " | "
               << (names.size() == 1 ? "none" : "**" + std::to_string(names.size() - 1) + "**")
               << " | " << step << " |\n";
      }
    }
  }
}

}  // namespace
}  // namespace ombrix
