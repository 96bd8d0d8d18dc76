#include "cli/console_program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "cli/report_text.h"
#include "engine/testing/faulty_file_system.h"
#include "engine/testing/test_files.h"
#include "ui/run_error.h"
#include "version.h"

namespace ombrix {
namespace {

using ::testing::HasSubstr;
using testing::ReadBytes;
using testing::SameBytes;
using ::testing::StartsWith;
using testing::WriteBytes;

class ConsoleProgramTest : public testing::TargetTest {
 protected:
  int Run(std::vector<std::filesystem::path> arguments) {
    out_.str("");
    err_.str("");
    return RunConsoleProgram(arguments, out_, err_, files_);
  }
  std::string Line(const std::filesystem::path& path, std::string_view sentence) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end()) + ": " + std::string(sentence) + "\n";
  }

  std::ostringstream out_;
  std::ostringstream err_;
  testing::SettableFaults files_;
};

TEST_F(ConsoleProgramTest, EachOutcomeHasTheWindowsSentenceAndItsStatus) {
  WriteBytes(target_, sample_.unpatched);
  EXPECT_EQ(Run({target_}), kCliAllDone);
  EXPECT_EQ(out_.str(), Line(target_, "Update is complete!"));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));

  EXPECT_EQ(Run({target_}), kCliNotApplicable);
  EXPECT_EQ(out_.str(), Line(target_,
                             "Can not update now.  Program has already been updated or "
                             "File Path is invalid."));

  EXPECT_EQ(Run({folder_ / "missing.exe"}), kCliInvalidPath);
  EXPECT_EQ(out_.str(), Line(folder_ / "missing.exe",
                             "File Path is Invalid.  Enter correct path and try again."));

  WriteBytes(target_, sample_.unpatched);
  files_.fails = [](testing::FileCall call) { return call == testing::FileCall::kFlush; };
  EXPECT_EQ(Run({target_}), kCliRunError);
  EXPECT_THAT(out_.str(), HasSubstr("Could not flush the new copy to the disk: "));
  EXPECT_THAT(out_.str(), HasSubstr("The file was left unchanged.\n"));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
  EXPECT_EQ(err_.str(), "");
}

TEST_F(ConsoleProgramTest, EveryTargetIsTriedAndTheHighestStatusWins) {
  const std::filesystem::path patched = folder_ / "patched.exe";
  const std::filesystem::path second = folder_ / "second.exe";
  WriteBytes(target_, sample_.unpatched);
  WriteBytes(patched, sample_.patched);
  WriteBytes(second, sample_.unpatched);
  EXPECT_EQ(Run({target_, folder_ / "missing.exe", patched, second}), kCliInvalidPath);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
  EXPECT_TRUE(SameBytes(ReadBytes(second), sample_.patched));
  const std::string out = out_.str();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4);
  EXPECT_THAT(out_.str(), HasSubstr(Line(second, "Update is complete!")));

  EXPECT_EQ(Run({patched, folder_ / "missing.exe"}), kCliInvalidPath);
  EXPECT_EQ(Run({patched, target_}), kCliNotApplicable);
}

TEST_F(ConsoleProgramTest, CheckTellsTheKindsApartWhereTheTextsAreAndWritesNothing) {
  const std::filesystem::path patched = folder_ / "patched.exe";
  const std::filesystem::path other = folder_ / "other.exe";
  WriteBytes(target_, sample_.unpatched);
  WriteBytes(patched, sample_.patched);
  WriteBytes(other, testing::Filler(4096));
  const auto written = std::filesystem::last_write_time(target_);

  EXPECT_EQ(Run({"--check", target_}), kCliAllDone);
  EXPECT_THAT(out_.str(), StartsWith(Line(target_, "unpatched (an update would complete)")));
  EXPECT_THAT(out_.str(), HasSubstr("  1. English \"Work with Submitted Jobs\" at byte " +
                                    std::to_string(sample_.replacements[0].offset) +
                                    "; Norwegian \"Arbeide med jobber som er sendt\" not found\n"));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
  EXPECT_EQ(std::filesystem::last_write_time(target_), written);

  EXPECT_EQ(Run({patched, "--check"}), kCliNotApplicable);
  EXPECT_THAT(out_.str(), StartsWith(Line(patched, "patched")));
  EXPECT_THAT(out_.str(), HasSubstr("3. English \"English\" not found; Norwegian \"Norwegian\" at "
                                    "byte " +
                                    std::to_string(sample_.replacements[2].offset) + "\n"));
  EXPECT_EQ(Run({"--check", other}), kCliNotApplicable);
  EXPECT_THAT(out_.str(), StartsWith(Line(other, "not a target (none of the texts)")));

  std::string half = sample_.patched;
  testing::Place(half, sample_.replacements[1].offset, testing::EnglishImage(1));
  WriteBytes(other, half);
  EXPECT_EQ(Run({"--check", other, target_}), kCliNotApplicable);
  EXPECT_THAT(out_.str(), StartsWith(Line(other,
                                          "partly patched; 'ombrix-patch-cli --restore' makes it "
                                          "whole again, then it can be patched")));
  EXPECT_EQ(Run({"--restore", other}), kCliAllDone);
  EXPECT_TRUE(SameBytes(ReadBytes(other), sample_.unpatched));
  EXPECT_EQ(Run({"--check", folder_ / "missing.exe"}), kCliInvalidPath);
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"Ombrix.exe", "other.exe", "patched.exe"}));
}

// A stream that takes nothing, as a standard output that was closed.
class ClosedOutput : public std::streambuf {
 protected:
  int overflow(int) override { return traits_type::eof(); }
};

TEST_F(ConsoleProgramTest, ReportThatCannotBeWrittenStopsAfterItsPath) {
  const std::filesystem::path second = folder_ / "second.exe";
  WriteBytes(target_, sample_.unpatched);
  WriteBytes(second, sample_.unpatched);
  ClosedOutput closed;
  std::ostream out(&closed);
  EXPECT_EQ(RunConsoleProgram({target_, second}, out, err_, files_), kCliReportLost);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));   // begun: finished
  EXPECT_TRUE(SameBytes(ReadBytes(second), sample_.unpatched));  // never tried
}

TEST_F(ConsoleProgramTest, RestoreGivesBackTheOriginalBytes) {
  WriteBytes(target_, sample_.unpatched);
  EXPECT_EQ(Run({"--restore", target_}), kCliNotApplicable);
  EXPECT_EQ(out_.str(), Line(target_,
                             "Can not restore now.  Program has not been updated or "
                             "File Path is invalid."));
  ASSERT_EQ(Run({target_}), kCliAllDone);
  EXPECT_EQ(Run({"--restore", target_}), kCliAllDone);
  EXPECT_EQ(out_.str(), Line(target_, "Restore is complete!"));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

// One JSON line per path, whose fields tell a roll-out tool what the file is: a run that did
// nothing says whether the file was patched already or is not the program.
TEST_F(ConsoleProgramTest, JsonReportsEachPathOnOneLine) {
  const std::filesystem::path other = folder_ / "other.exe";
  WriteBytes(target_, sample_.unpatched);
  WriteBytes(other, testing::Filler(4096));
  const std::string target = Utf8(target_);
  const auto offset = [&](std::size_t pair) {
    return std::to_string(sample_.replacements[pair].offset);
  };

  EXPECT_EQ(Run({"--check", "--json", target_}), kCliAllDone);
  EXPECT_EQ(out_.str(), "{\"path\":" + JsonString(target) +
                            ",\"outcome\":\"checked\",\"state\":\"unpatched\",\"restorable\":"
                            "false,\"offsets\":[{\"english\":" +
                            offset(0) + ",\"norwegian\":null},{\"english\":" + offset(1) +
                            ",\"norwegian\":null},{\"english\":" + offset(2) +
                            ",\"norwegian\":null}],\"message\":\"unpatched (an update would "
                            "complete)\",\"error\":null}\n");

  EXPECT_EQ(Run({"--json", target_, target_, other, folder_ / "missing.exe"}), kCliInvalidPath);
  std::istringstream lines(out_.str());
  std::string line;
  std::getline(lines, line);
  EXPECT_THAT(line, HasSubstr("\"outcome\":\"completed\",\"state\":\"patched\",\"restorable\""
                              ":true,\"offsets\":[{\"english\":null,\"norwegian\":" +
                              offset(0) + "}"));
  EXPECT_THAT(line, HasSubstr("\"message\":\"Update is complete!\""));
  std::getline(lines, line);
  EXPECT_THAT(line, HasSubstr("\"outcome\":\"not_applicable\",\"state\":\"patched\","));
  EXPECT_THAT(line, HasSubstr(",{\"english\":null,\"norwegian\":" + offset(2) + "}]"));
  std::getline(lines, line);
  EXPECT_THAT(line, StartsWith("{\"path\":" + JsonString(Utf8(other)) +
                               ",\"outcome\":\"not_applicable\",\"state\":\"not_a_target\","));
  std::getline(lines, line);
  EXPECT_THAT(line, HasSubstr("\"outcome\":\"invalid_path\",\"state\":null,\"restorable\":null,"
                              "\"offsets\":null,\"message\":\"File Path is Invalid."));
  EXPECT_FALSE(std::getline(lines, line));

  WriteBytes(target_, sample_.unpatched);
  files_.fails = [](testing::FileCall call) { return call == testing::FileCall::kFlush; };
  EXPECT_EQ(Run({"--json", target_}), kCliRunError);
  EXPECT_THAT(out_.str(), HasSubstr("\"outcome\":\"error\",\"state\":\"unpatched\","));
  EXPECT_THAT(out_.str(), HasSubstr(",\"error\":\"Could not flush the new copy to the disk: "));
}

// The state is read from the file after the run, never assumed from the outcome: a run
// replaces only the first occurrence of each text. Reading it can fail without changing what
// the run did.
TEST_F(ConsoleProgramTest, JsonStateIsWhatTheFileHoldsAfterTheRun) {
  std::string twice = sample_.unpatched + testing::EnglishImage(2);
  WriteBytes(target_, twice);
  EXPECT_EQ(Run({"--json", target_}), kCliAllDone);
  EXPECT_THAT(out_.str(), HasSubstr("\"outcome\":\"completed\",\"state\":\"partly_patched\""));

  testing::FaultPlan plain;
  std::ostringstream ignored;
  EXPECT_EQ(RunConsoleProgram({target_}, ignored, err_, plain), kCliNotApplicable);
  testing::FaultPlan after_the_run(static_cast<int>(plain.calls().size()) + 1,
                                   testing::FaultPlan::Extent::kThatCallAndAfter);
  out_.str("");
  EXPECT_EQ(RunConsoleProgram({"--json", target_}, out_, err_, after_the_run), kCliNotApplicable);
  EXPECT_TRUE(after_the_run.failed().has_value()) << "the state was not read";
  EXPECT_THAT(out_.str(), HasSubstr("\"outcome\":\"not_applicable\",\"state\":null,"
                                    "\"restorable\":null,\"offsets\":null,"));
  EXPECT_THAT(out_.str(), HasSubstr("\"error\":null}"));
}

// A write in place that fails after its first text, and whose undoing fails too, leaves the file
// partly patched: a status of its own, the state read from the file, and the way to repair it.
TEST_F(ConsoleProgramTest, FileLeftPartlyPatchedSaysSoAndHowToRepairIt) {
  WriteBytes(target_, sample_.unpatched);
  int writes = 0;
  files_.error = std::make_error_code(std::errc::permission_denied);
  files_.fails = [&](testing::FileCall call) {
    // No new copy may be made in the folder; the disk fails from the second write on.
    return call == testing::FileCall::kCreateCopy ||
           (call == testing::FileCall::kWrite && ++writes >= 2);
  };
  EXPECT_EQ(Run({"--json", target_}), kCliPartlyPatched);
  EXPECT_THAT(out_.str(), HasSubstr("\"outcome\":\"error\",\"state\":\"partly_patched\","
                                    "\"restorable\":true,"));
  EXPECT_THAT(out_.str(), HasSubstr("'ombrix-patch-cli --restore' makes it whole again."));
  EXPECT_EQ(Run({target_}), kCliNotApplicable) << "partly patched: an update cannot complete";

  files_.fails = nullptr;
  EXPECT_EQ(Run({"--restore", target_}), kCliAllDone);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
  EXPECT_EQ(Run({"--help"}), kCliAllDone);
  EXPECT_THAT(out_.str(), HasSubstr("  4   an error stopped a run part way"));
}

// A file this user may not change: --check says an update would not complete for this user,
// and why, with the status of an error; the run then says the same.
TEST_F(ConsoleProgramTest, CheckSaysWhatWouldStopThisUsersUpdate) {
  class Refusing : public testing::FileSystemWrapper {
    std::error_code Assess(const File& file, const Folder& folder, WriteAccess& access) override {
      const std::error_code error = FileSystemWrapper::Assess(file, folder, access);
      access.refused = std::make_error_code(std::errc::permission_denied);
      return error;
    }
  } refusing;
  WriteBytes(target_, sample_.unpatched);
  std::ostringstream out;
  EXPECT_EQ(RunConsoleProgram({"--check", target_}, out, err_, refusing), kCliRunError);
  const std::string denied = std::make_error_code(std::errc::permission_denied).message();
  EXPECT_THAT(out.str(), HasSubstr(": unpatched (an update would complete); but this user could "
                                   "not change it: Could not change the file: " +
                                   denied + ".\n"));
  out.str("");
  EXPECT_EQ(RunConsoleProgram({"--check", "--json", target_}, out, err_, refusing), kCliRunError);
  EXPECT_THAT(out.str(), HasSubstr("\"state\":\"unpatched\""));
  EXPECT_THAT(out.str(), HasSubstr("\"error\":\"unpatched (an update would complete); but"));
  out.str("");
  EXPECT_EQ(RunConsoleProgram({target_}, out, err_, refusing), kCliRunError);
  EXPECT_THAT(out.str(), HasSubstr("Could not change the file: " + denied));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

// One line per path whatever its name holds: a line end cannot forge another file's report.
TEST_F(ConsoleProgramTest, NameWithALineEndStaysOnItsOwnLine) {
  WriteBytes(target_, sample_.unpatched);
  const std::filesystem::path forged = folder_ / "x\nOmbrix.exe: Update is complete!\x1b[2K";
  EXPECT_EQ(Run({forged, target_}), kCliInvalidPath);
  const std::string out = out_.str();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2);
  EXPECT_THAT(out, HasSubstr("x\\nOmbrix.exe: Update is complete!\\x1b[2K: File Path is Invalid."));
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
}

TEST_F(ConsoleProgramTest, BadCommandLinesGiveUsageOnStandardErrorAnd64) {
  WriteBytes(target_, sample_.unpatched);
  for (const std::vector<std::filesystem::path>& arguments :
       std::vector<std::vector<std::filesystem::path>>{{},
                                                       {"--check"},
                                                       {"--frobnicate", target_},
                                                       {"-x", target_},
                                                       {"--check", "--restore", target_}}) {
    EXPECT_EQ(Run(arguments), kCliUsage);
    EXPECT_THAT(err_.str(),
                HasSubstr("Usage: ombrix-patch-cli [--check | --restore] [--json] PATH...\n"));
    EXPECT_EQ(out_.str(), "");
  }
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched)) << "nothing ran";

  EXPECT_EQ(Run({"--", "-x"}), kCliInvalidPath) << "after -- every argument is a path";
}

TEST_F(ConsoleProgramTest, HelpAndVersion) {
  EXPECT_EQ(Run({"--help"}), kCliAllDone);
  EXPECT_THAT(out_.str(), StartsWith("Usage: "));
  EXPECT_THAT(out_.str(), HasSubstr("  64  the command line was wrong\n"));
  EXPECT_EQ(Run({"--version"}), kCliAllDone);
  EXPECT_EQ(out_.str(), std::string("ombrix-patch-cli ") + OMBRIX_VERSION_TEXT + "\n");
}

}  // namespace
}  // namespace ombrix
