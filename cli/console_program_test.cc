#include "cli/console_program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "cli/command_line.h"
#include "cli/path_list.h"
#include "engine/testing/faulty_file_system.h"
#include "engine/testing/test_files.h"
#include "frontend/path_text.h"
#include "version.h"

namespace ombrix {
namespace {

using test::ReadBytes;
using test::SameBytes;
using test::WriteBytes;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class ConsoleProgramTest : public test::TargetTest {
 protected:
  int Run(std::vector<std::filesystem::path> arguments, const std::string& input = "") {
    out_.str("");
    err_.str("");
    std::istringstream in(input);
    return RunConsoleProgram(arguments, in, out_, err_, files_);
  }
  // The line of a result, as standard output has it.
  std::string Line(const std::filesystem::path& path, std::string_view words) {
    return Utf8(path) + ": " + std::string(words) + "\n";
  }
  // The line of an error, as standard error has it.
  std::string ErrorLine(const std::filesystem::path& path, std::string_view words) {
    return "ombrix-patch-cli: " + Line(path, words);
  }
  // A file with two of the three texts: not the program.
  void WriteForeign(const std::filesystem::path& path) {
    std::string foreign = sample_.unpatched;
    test::Place(foreign, sample_.replacements[1].offset,
                std::string(test::EnglishImage(1).size(), 'x'));
    WriteBytes(path, foreign);
  }
  std::string Denied() const {
    return std::make_error_code(std::errc::permission_denied).message();
  }

  std::ostringstream out_;
  std::ostringstream err_;
  test::SettableFaults files_;
};

// A second run finds the file as wanted and says so with status 0; every failure has its line
// on standard error, with the system's reason, and none on standard output.
TEST_F(ConsoleProgramTest, EachResultSaysItsStateOnItsStream) {
  WriteBytes(target_, sample_.unpatched);
  EXPECT_EQ(Run({target_}), kCliAsWanted);
  EXPECT_EQ(out_.str(), Line(target_, "patched: Update is complete!"));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
  EXPECT_EQ(Run({target_}), kCliAsWanted);
  EXPECT_EQ(out_.str(), Line(target_, "already patched: nothing to do"));
  EXPECT_EQ(err_.str(), "");

  const std::filesystem::path missing = folder_ / "missing.exe";
  EXPECT_EQ(Run({missing}), kCliInvalidPath);
  // The system's own words, which differ between the platforms: "No such file or directory".
  const std::string invalid = "ombrix-patch-cli: " + Utf8(missing) + ": invalid path: ";
  EXPECT_THAT(err_.str(), StartsWith(invalid));
  EXPECT_GT(err_.str().size(), invalid.size() + 1);
  EXPECT_EQ(Run({folder_.path()}), kCliInvalidPath);
  EXPECT_EQ(err_.str(), ErrorLine(folder_.path(),
                                  "invalid path: " +
                                      std::make_error_code(std::errc::is_a_directory).message()));
  EXPECT_EQ(out_.str(), "");

  WriteBytes(target_, sample_.unpatched);
  files_.fails = [](test::FileCall call) { return call == "Flush"; };
  EXPECT_EQ(Run({target_}), kCliRunError);
  EXPECT_THAT(err_.str(), StartsWith("ombrix-patch-cli: " + Utf8(target_) +
                                     ": error: Could not flush the new copy to the disk: "));
  EXPECT_THAT(err_.str(), HasSubstr("The file was left unchanged.\n"));
  EXPECT_EQ(out_.str(), "");
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

// Every target is tried; the batch ends with the worst status any of them had, in a run and in
// a check alike.
TEST_F(ConsoleProgramTest, MixedBatchEndsWithItsWorstStatus) {
  const std::filesystem::path patched = folder_ / "patched.exe";
  const std::filesystem::path second = folder_ / "second.exe";
  const std::filesystem::path foreign = folder_ / "foreign.exe";
  const std::filesystem::path missing = folder_ / "missing.exe";
  WriteBytes(target_, sample_.unpatched);
  WriteBytes(patched, sample_.patched);
  WriteBytes(second, sample_.unpatched);
  WriteForeign(foreign);
  EXPECT_EQ(Run({"--check", target_, patched}), kCliWouldChange);
  EXPECT_EQ(Run({"--check", missing, target_}), kCliInvalidPath);

  EXPECT_EQ(Run({target_, missing, foreign, patched, second}), kCliNotExpected);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
  EXPECT_TRUE(SameBytes(ReadBytes(second), sample_.patched));
  EXPECT_EQ(Lines(out_.str()), 3u);
  EXPECT_EQ(Lines(err_.str()), 2u);
  EXPECT_THAT(err_.str(), HasSubstr(ErrorLine(foreign,
                                              "not the expected program: text 2 is "
                                              "missing, in English and in Norwegian")));
  EXPECT_EQ(Run({"--check", foreign, target_, missing}), kCliNotExpected);
  EXPECT_EQ(Run({target_, patched, second}), kCliAsWanted) << "a second run is no failure";
  EXPECT_EQ(Run({"--check", target_, patched}), kCliAsWanted);

  EXPECT_EQ(Run({"--restore", target_, missing}), kCliInvalidPath);
  EXPECT_EQ(Run({"--restore", "--check", target_, patched, second}), kCliWouldChange);
  EXPECT_EQ(Run({"--restore", patched, second, target_}), kCliAsWanted);
  EXPECT_THAT(out_.str(), HasSubstr(Line(target_, "already English: nothing to do")));
}

TEST_F(ConsoleProgramTest, CheckTellsTheKindsApartWhereTheTextsAreAndWritesNothing) {
  const std::filesystem::path patched = folder_ / "patched.exe";
  const std::filesystem::path other = folder_ / "other.exe";
  WriteBytes(target_, sample_.unpatched);
  WriteBytes(patched, sample_.patched);
  WriteBytes(other, test::Filler(4096));
  const auto written = std::filesystem::last_write_time(target_);

  // One line for each PATH, as `while read` loops take them; where the texts lie is in --json.
  EXPECT_EQ(Run({"--check", target_, patched}), kCliWouldChange);
  EXPECT_EQ(out_.str(), Line(target_, "would be patched: it holds the three English texts") +
                            Line(patched, "already patched: nothing to do"));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
  EXPECT_EQ(std::filesystem::last_write_time(target_), written);

  EXPECT_EQ(Run({"--check", other}), kCliNotExpected);
  EXPECT_EQ(err_.str(), ErrorLine(other, "not the expected program: none of the texts is there"));

  std::string half = sample_.patched;
  test::Place(half, sample_.replacements[1].offset, test::EnglishImage(1));
  WriteBytes(other, half);
  EXPECT_EQ(Run({"--check", other, target_}), kCliPartlyPatched);
  EXPECT_THAT(err_.str(), StartsWith(ErrorLine(other,
                                               "partly patched: some texts are Norwegian "
                                               "and some English; 'ombrix-patch-cli "
                                               "--restore' makes it whole again, then it "
                                               "can be patched")));
  EXPECT_EQ(Run({other}), kCliPartlyPatched) << "a run finds it as the check does";
  EXPECT_EQ(Run({"--restore", other}), kCliAsWanted);
  EXPECT_TRUE(SameBytes(ReadBytes(other), sample_.unpatched));
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"Ombrix.exe", "other.exe", "patched.exe"}));
}

// A stream that takes nothing, as a standard output that was closed.
class ClosedOutput : public std::streambuf {
 protected:
  int overflow(int) override { return traits_type::eof(); }
};

TEST_F(ConsoleProgramTest, OutputThatCannotBeWrittenStopsAfterItsPath) {
  const std::filesystem::path second = folder_ / "second.exe";
  WriteBytes(target_, sample_.unpatched);
  WriteBytes(second, sample_.unpatched);
  ClosedOutput closed;
  std::ostream out(&closed);
  std::istringstream in;
  EXPECT_EQ(RunConsoleProgram({target_, second}, in, out, err_, files_), kCliReportLost);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));   // begun: finished
  EXPECT_TRUE(SameBytes(ReadBytes(second), sample_.unpatched));  // never tried
  EXPECT_THAT(err_.str(), HasSubstr("could not write to standard output"));
  EXPECT_THAT(err_.str(), HasSubstr("1 PATH after " + Utf8(target_) + " was not tried"));
  for (const char* asked : {"--help", "-V"}) {
    std::ostream lost(&closed);
    EXPECT_EQ(RunConsoleProgram({asked}, in, lost, err_, files_), kCliReportLost) << asked;
  }
}

TEST_F(ConsoleProgramTest, RestoreGivesBackTheOriginalBytes) {
  WriteBytes(target_, sample_.unpatched);
  ASSERT_EQ(Run({target_}), kCliAsWanted);
  EXPECT_EQ(Run({"--restore", target_}), kCliAsWanted);
  EXPECT_EQ(out_.str(), Line(target_, "restored: Restore is complete!"));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

// A disk without room for a new copy: the file is patched in place, and the line says so.
TEST_F(ConsoleProgramTest, PatchInPlaceSaysSoAndWhy) {
  WriteBytes(target_, sample_.unpatched);
  files_.error = std::make_error_code(std::errc::no_space_on_device);
  files_.fails = [](test::FileCall call) { return call == "MakeCopy"; };
  const std::string words =
      "patched: Update is complete! (patched in place: no room for a new copy on the disk)";
  EXPECT_EQ(Run({target_}), kCliAsWanted);
  EXPECT_EQ(out_.str(), Line(target_, words));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
  EXPECT_EQ(Run({"--restore", "--json", target_}), kCliAsWanted);
  EXPECT_THAT(out_.str(), HasSubstr("(restored in place: no room for a new copy on the disk)"));
}

// One JSON line per path on standard output, errors included (and said on standard error too):
// the result is the same state as the plain line's, and the file's content is read again.
TEST_F(ConsoleProgramTest, JsonReportsEachPathOnOneLine) {
  const std::filesystem::path other = folder_ / "other.exe";
  const std::filesystem::path missing = folder_ / "missing.exe";
  WriteBytes(target_, sample_.unpatched);
  WriteBytes(other, test::Filler(4096));
  const std::string target = Utf8(target_);
  const auto offset = [&](std::size_t pair) {
    return std::to_string(sample_.replacements[pair].offset);
  };

  EXPECT_EQ(Run({"--check", "--json", target_}), kCliWouldChange);
  EXPECT_EQ(out_.str(), "{\"path\":" + nlohmann::json(target).dump() +
                            ",\"result\":\"would_patch\",\"status\":1,\"outcome\":\"checked\","
                            "\"state\":\"unpatched\",\"restorable\":false,\"offsets\":[{"
                            "\"english\":" +
                            offset(0) + ",\"norwegian\":null},{\"english\":" + offset(1) +
                            ",\"norwegian\":null},{\"english\":" + offset(2) +
                            ",\"norwegian\":null}],\"message\":\"would be patched: it holds the "
                            "three English texts\",\"error\":null}\n");

  EXPECT_EQ(Run({"--json", target_, target_, other, missing}), kCliNotExpected);
  EXPECT_EQ(Lines(err_.str()), 2u);
  std::istringstream lines(out_.str());
  std::string line;
  std::getline(lines, line);
  EXPECT_THAT(line, HasSubstr("\"result\":\"patched\",\"status\":0,\"outcome\":\"completed\","
                              "\"state\":\"patched\",\"restorable\":true,\"offsets\":[{"
                              "\"english\":null,\"norwegian\":" +
                              offset(0) + "}"));
  EXPECT_THAT(line, HasSubstr("\"message\":\"patched: Update is complete!\",\"error\":null}"));
  std::getline(lines, line);
  EXPECT_THAT(line, HasSubstr("\"result\":\"already_patched\",\"status\":0,"));
  EXPECT_THAT(line, HasSubstr(",{\"english\":null,\"norwegian\":" + offset(2) + "}]"));
  std::getline(lines, line);
  EXPECT_THAT(line, StartsWith("{\"path\":" + nlohmann::json(Utf8(other)).dump() +
                               ",\"result\":\"not_expected\",\"status\":3,"));
  EXPECT_THAT(line, HasSubstr("\"state\":\"not_a_target\","));
  EXPECT_THAT(line, HasSubstr("\"error\":\"not the expected program: none of the texts"));
  std::getline(lines, line);
  EXPECT_THAT(line, HasSubstr("\"result\":\"invalid_path\",\"status\":2,\"outcome\":"
                              "\"invalid_path\",\"state\":null,\"restorable\":null,\"offsets\":"
                              "null,\"message\":\"invalid path: "));
  EXPECT_FALSE(std::getline(lines, line));

  WriteBytes(target_, sample_.unpatched);
  files_.fails = [](test::FileCall call) { return call == "Flush"; };
  EXPECT_EQ(Run({"--json", target_}), kCliRunError);
  EXPECT_THAT(out_.str(), HasSubstr("\"result\":\"error\",\"status\":4,\"outcome\":\"error\","
                                    "\"state\":\"unpatched\","));
  EXPECT_THAT(out_.str(), HasSubstr(",\"error\":\"error: Could not flush the new copy to the "));
}

// The state is read from the file after the run, never assumed from the outcome: a run
// replaces only the first occurrence of each text. Reading it can fail without changing what
// the run did.
TEST_F(ConsoleProgramTest, JsonStateIsWhatTheFileHoldsAfterTheRun) {
  WriteBytes(target_, sample_.unpatched + test::EnglishImage(2));
  EXPECT_EQ(Run({"--json", target_}), kCliAsWanted);
  EXPECT_THAT(out_.str(), HasSubstr("\"outcome\":\"completed\",\"state\":\"partly_patched\""));

  WriteBytes(target_, sample_.unpatched);
  test::FaultPlan plain;
  std::ostringstream ignored;
  std::istringstream in;
  EXPECT_EQ(RunConsoleProgram({target_}, in, ignored, err_, plain), kCliAsWanted);
  WriteBytes(target_, sample_.unpatched);
  test::FaultPlan after_the_run(static_cast<int>(plain.calls().size()) + 1,
                                test::FaultPlan::Extent::kThatCallAndAfter);
  out_.str("");
  EXPECT_EQ(RunConsoleProgram({"--json", target_}, in, out_, err_, after_the_run), kCliAsWanted);
  EXPECT_TRUE(after_the_run.failed().has_value()) << "the state was not read";
  EXPECT_THAT(out_.str(), HasSubstr("\"result\":\"patched\",\"status\":0,\"outcome\":"
                                    "\"completed\",\"state\":null,\"restorable\":null,"
                                    "\"offsets\":null,"));
  EXPECT_THAT(out_.str(), HasSubstr("\"error\":null}"));
}

// A write in place that fails after its first text, and whose undoing fails too, leaves the file
// partly patched: the worst status, the state read from the file, and the way to repair it.
TEST_F(ConsoleProgramTest, FileLeftPartlyPatchedSaysSoAndHowToRepairIt) {
  const std::filesystem::path missing = folder_ / "missing.exe";
  WriteBytes(target_, sample_.unpatched);
  int writes = 0;
  files_.error = std::make_error_code(std::errc::permission_denied);
  files_.fails = [&](test::FileCall call) {
    // No new copy may be made in the folder; the disk fails from the second write on.
    return call == "MakeCopy" || (call == "WriteAt" && ++writes >= 2);
  };
  EXPECT_EQ(Run({"--json", target_, missing}), kCliPartlyPatched);
  EXPECT_THAT(out_.str(), HasSubstr("\"result\":\"partly_patched\",\"status\":5,\"outcome\":"
                                    "\"error\",\"state\":\"partly_patched\",\"restorable\":true,"));
  EXPECT_THAT(err_.str(), HasSubstr("'ombrix-patch-cli --restore' makes it whole again.\n"));
  EXPECT_EQ(Run({target_}), kCliPartlyPatched) << "an update cannot complete";

  files_.fails = nullptr;
  EXPECT_EQ(Run({"--restore", target_}), kCliAsWanted);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

// A file this user may not change: --check says a run would fail, and why, with the status of
// the error the run then has. A file already as wanted needs no change, and is fine.
TEST_F(ConsoleProgramTest, CheckSaysWhatWouldStopThisUsersUpdate) {
  class Refusing : public test::FileSystemWrapper {
    std::error_code Assess(const File& file, const Folder& folder, WriteAccess& access) override {
      const std::error_code error = FileSystemWrapper::Assess(file, folder, access);
      access.refused = std::make_error_code(std::errc::permission_denied);
      return error;
    }
  } refusing;
  const std::filesystem::path patched = folder_ / "patched.exe";
  WriteBytes(target_, sample_.unpatched);
  WriteBytes(patched, sample_.patched);
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunConsoleProgram({"--check", target_}, in, out, err, refusing), kCliRunError);
  EXPECT_THAT(err.str(), StartsWith(ErrorLine(target_,
                                              "error: a run would patch it, but this "
                                              "user could not change it: Could not "
                                              "change the file: " +
                                                  Denied() + ".")));
  EXPECT_EQ(RunConsoleProgram({"--check", "--json", target_}, in, out, err, refusing),
            kCliRunError);
  EXPECT_THAT(out.str(), HasSubstr("\"state\":\"unpatched\""));
  EXPECT_THAT(out.str(), HasSubstr("\"error\":\"error: a run would patch it, but"));
  EXPECT_EQ(RunConsoleProgram({"--check", patched}, in, out, err, refusing), kCliAsWanted);
  err.str("");
  EXPECT_EQ(RunConsoleProgram({target_}, in, out, err, refusing), kCliRunError);
  EXPECT_THAT(err.str(), HasSubstr("Could not change the file: " + Denied()));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

// One line per path whatever its name holds: a line end cannot forge another file's report.
TEST_F(ConsoleProgramTest, NameWithALineEndStaysOnItsOwnLine) {
  WriteBytes(target_, sample_.unpatched);
  const std::filesystem::path forged =
      folder_ / "x\nOmbrix.exe: patched: Update is complete!\x1b[2K";
  EXPECT_EQ(Run({forged, target_}), kCliInvalidPath);
  EXPECT_EQ(Lines(out_.str()), 1u);
  EXPECT_EQ(Lines(err_.str()), 1u);
  EXPECT_THAT(err_.str(),
              HasSubstr("x\\nOmbrix.exe: patched: Update is complete!\\x1b[2K: invalid path: "));
  EXPECT_EQ(err_.str().find('\x1b'), std::string::npos);
}

// A list keeps every byte of a name but its end: blanks at either end, and with zero bytes
// between the names, line ends too.
TEST(PathListTest, KeepsBlanksAndWithNullLineEnds) {
  using Paths = std::vector<std::filesystem::path>;
  EXPECT_EQ(SplitPathList(" a b \r\n\nc\n\nd", false), (Paths{" a b ", "c", "d"}));
  EXPECT_EQ(SplitPathList(std::string_view("new\nline\0 a b \r\0\0", 18), true),
            (Paths{"new\nline", " a b \r"}));
  EXPECT_EQ(SplitPathList("", true), Paths{});
}

// Lists as Windows tools write them: a UTF-8 mark (PowerShell 5.1, Notepad), UTF-16 with its
// mark either way round (PowerShell's default), with line ends or zero bytes between the names.
TEST(PathListTest, ByteOrderMarksSayTheEncodingAndAreNoPartOfAName) {
  using Paths = std::vector<std::filesystem::path>;
  const auto utf16 = [](std::u16string_view text, bool big_endian) {
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
      const char high = static_cast<char>(unit >> 8);
      const char low = static_cast<char>(unit & 0xFF);
      bytes += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
  };
  const Paths two = {PathFromUtf8("C:\\Programfiler\\\xC3\x98y.exe"), "b.exe"};
  const struct {
    std::string list;
    bool null;
    Paths paths;
  } cases[] = {
      {"\xEF\xBB\xBF"
       "C:\\Programfiler\\\xC3\x98y.exe\r\nb.exe\r\n",
       false, two},
      {utf16(u"C:\\Programfiler\\\u00D8y.exe\r\nb.exe", false), false, two},
      {utf16(u"C:\\Programfiler\\\u00D8y.exe\r\nb.exe\r\n", true), false, two},
      {utf16(std::u16string(u"C:\\Programfiler\\\u00D8y.exe") + u'\0' + u"b.exe", false), true,
       two},
      {utf16(u"\U0001F600.exe", false), false, {PathFromUtf8("\xF0\x9F\x98\x80.exe")}},
      {"\xEF\xBB", false, {PathFromListText("\xEF\xBB")}},
  };
  for (const auto& [list, null, paths] : cases) {
    std::istringstream in(list);
    Paths read;
    ASSERT_TRUE(ReadPathList(in, null, read));
    EXPECT_EQ(read, paths) << Utf8(list);
  }
}

// The lists' paths go in the order given, among the PATHs, from a file or standard input.
TEST_F(ConsoleProgramTest, PathListsAreTakenInOrderFromFilesAndStandardInput) {
  const std::filesystem::path blanks = folder_ / " two  blanks .exe";
  const std::filesystem::path list = folder_ / "list";
  WriteBytes(target_, sample_.unpatched);
  WriteBytes(blanks, sample_.unpatched);

  WriteBytes(list, Utf8(blanks) + "\r\n\n" + Utf8(folder_ / "missing.exe") + "\n");
  EXPECT_EQ(Run({target_, "--files-from", list}), kCliInvalidPath);
  EXPECT_EQ(out_.str(), Line(target_, "patched: Update is complete!") +
                            Line(blanks, "patched: Update is complete!"));
  EXPECT_EQ(Lines(err_.str()), 1u);
  // A PATH after a list is a PATH, not another list.
  WriteBytes(blanks, sample_.unpatched);
  EXPECT_EQ(Run({"--files-from", list, target_}), kCliInvalidPath);
  EXPECT_EQ(out_.str(), Line(blanks, "patched: Update is complete!") +
                            Line(target_, "already patched: nothing to do"));

  WriteBytes(blanks, sample_.unpatched);
  const std::string listed = Utf8(blanks) + '\0' + Utf8(target_) + '\0';
  EXPECT_EQ(Run({"--check", "--null", "--files-from=-"}, listed), kCliWouldChange);
  EXPECT_THAT(out_.str(), StartsWith(Line(blanks,
                                          "would be patched: it holds the three English "
                                          "texts")));
  EXPECT_THAT(out_.str(), HasSubstr(Line(target_, "already patched: nothing to do")));
  EXPECT_EQ(Run({"--quiet", "-0", "--files-from", "-"}, listed), kCliAsWanted);
  EXPECT_EQ(out_.str(), "");
  EXPECT_TRUE(SameBytes(ReadBytes(blanks), sample_.patched));

  EXPECT_EQ(Run({"--files-from", "-"}, ""), kCliAsWanted) << "an empty list";
  EXPECT_EQ(Run({target_, "--files-from", folder_ / "none"}), kCliListUnread);
  EXPECT_THAT(err_.str(), HasSubstr("could not read the list of paths "));
  EXPECT_EQ(out_.str(), "") << "no path is tried";
  // A device given as the list (/dev/zero) holds no line end: it is refused, not held whole.
  EXPECT_EQ(Run({"--files-from", "-"}, std::string(kLongestListedPath + 1, 'x')), kCliListUnread);
}

TEST_F(ConsoleProgramTest, QuietPrintsOnlyErrors) {
  WriteBytes(target_, sample_.unpatched);
  EXPECT_EQ(Run({"-q", target_, folder_ / "missing.exe"}), kCliInvalidPath);
  EXPECT_EQ(out_.str(), "");
  EXPECT_THAT(err_.str(), HasSubstr("missing.exe: invalid path: "));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
}

TEST_F(ConsoleProgramTest, BadCommandLinesGiveUsageOnStandardErrorAnd64) {
  WriteBytes(target_, sample_.unpatched);
  for (const std::vector<std::filesystem::path>& arguments :
       std::vector<std::vector<std::filesystem::path>>{{},
                                                       {"--check"},
                                                       {"--frobnicate", target_},
                                                       {"-x", target_},
                                                       {target_, "--files-from"},
                                                       {"--files-from", "-", "--files-from"},
                                                       {"--check=false", target_},
                                                       {"--null", target_},
                                                       {"--quiet", "--json", target_}}) {
    EXPECT_EQ(Run(arguments), kCliUsage);
    EXPECT_THAT(err_.str(), HasSubstr("Usage: ombrix-patch-cli [--check] [--restore]"));
    EXPECT_EQ(out_.str(), "");
  }
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched)) << "nothing ran";

  EXPECT_EQ(Run({"--", "-x"}), kCliInvalidPath) << "after -- every argument is a path";
  EXPECT_EQ(Run({"-q", "--", "-q"}), kCliInvalidPath) << "even one spelt like an option";
}

#ifndef _WIN32
// A Linux name may hold bytes that are not UTF-8: its line is JSON all the same, with U+FFFD
// for them.
TEST_F(ConsoleProgramTest, JsonOfANameThatIsNotUtf8IsStillJson) {
  const std::filesystem::path latin = folder_ / "bl\xE5.exe";
  WriteBytes(latin, sample_.unpatched);
  EXPECT_EQ(Run({"--json", "--check", latin}), kCliWouldChange);
  EXPECT_EQ(nlohmann::json::parse(out_.str())["path"], Utf8(folder_ / "bl\xEF\xBF\xBD.exe"));
}

// A file that another program holds a write lease on is there, only busy: an error of the run
// (try again), not an invalid path (nothing to do here).
TEST_F(ConsoleProgramTest, FileUnderAnotherProgramsLeaseIsBusyNotInvalid) {
  WriteBytes(target_, sample_.unpatched);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    ::signal(SIGIO, SIG_IGN);  // told of every open that would break the lease
    const int fd = ::open(target_.c_str(), O_RDWR);
    const char byte = fd != -1 && ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0 ? '1' : '0';
    (void)::write(ready[1], &byte, 1);
    ::pause();
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  const int status = byte == '1' ? Run({target_}) : -1;
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  if (byte != '1') GTEST_SKIP() << "no lease on this file system";
  EXPECT_EQ(status, kCliRunError);
  EXPECT_THAT(err_.str(), HasSubstr("because another program holds it"));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

// A Windows path that names no file says in which Wine prefix it was looked for: a roll-out
// that runs as the wrong user looks in the wrong one.
TEST_F(ConsoleProgramTest, WindowsPathThatNamesNoFileSaysWhichPrefixWasSearched) {
  const char* before = std::getenv("WINEPREFIX");
  const std::string saved = before != nullptr ? before : "";
  ::setenv("WINEPREFIX", (folder_ / "prefix").c_str(), 1);
  EXPECT_EQ(Run({"C:\\Programfiler\\Ombrix\\Ombrix.exe"}), kCliInvalidPath);
  before != nullptr ? ::setenv("WINEPREFIX", saved.c_str(), 1) : ::unsetenv("WINEPREFIX");
  EXPECT_THAT(err_.str(),
              HasSubstr("(looked for in the Wine prefix " + Utf8(folder_ / "prefix") + ")\n"));
}
#endif

#ifndef _WIN32
// Two runs on one file at once: the one whose copy lost the race finds the file as wanted and
// says so with status 0; a file another program made otherwise is still an error. (Windows
// lets no other program rename over a file a run holds open.)
TEST_F(ConsoleProgramTest, RunThatAnotherRunOvertookSucceedsAndOtherChangesStayErrors) {
  const struct {
    std::string meanwhile;  // what the other program leaves while this run flushes its copy
    int status;
    std::string words;
  } cases[] = {
      {sample_.patched, kCliAsWanted,
       "already patched: another run patched it while this one worked; this one changed nothing"},
      {sample_.unpatched + "x", kCliRunError,
       "error: Could not replace the file with the new copy"},
  };
  for (const auto& [meanwhile, status, words] : cases) {
    WriteBytes(target_, sample_.unpatched);
    bool done = false;
    files_.fails = [&](test::FileCall call) {
      if (call == "Flush" && !done) {
        done = true;
        const std::filesystem::path other = folder_ / "other.new";
        WriteBytes(other, meanwhile);
        std::filesystem::rename(other, target_);
      }
      return false;
    };
    EXPECT_EQ(Run({target_}), status) << words;
    EXPECT_THAT(out_.str() + err_.str(), HasSubstr(words));
    EXPECT_TRUE(SameBytes(ReadBytes(target_), meanwhile));
  }
}
#endif

// Switches as Windows administrators write them, where the platform takes them.
TEST(CommandLineTest, SlashSwitchesAreOptionsAndPathsWithSeparatorsStayPaths) {
  const struct {
    std::vector<std::filesystem::path> arguments;
    std::optional<std::string> problem;
    bool check;
    std::size_t paths;
  } cases[] = {
      {{"/check", "C:\\Programfiler\\Ombrix\\Ombrix.exe"}, std::nullopt, true, 1},
      {{"/CHECK", "/json", "/Games/Ombrix/Ombrix.exe", "/"}, std::nullopt, true, 2},
      {{"/chek", "C:\\Ombrix.exe"}, "unknown switch '/chek'", false, 0},
      {{"a.exe", "/x"}, "unknown switch '/x'", false, 0},
      {{"--", "/x"}, std::nullopt, false, 1},
      {{"/files-from", "/list"}, std::nullopt, false, 1},
  };
  for (const auto& [arguments, problem, check, paths] : cases) {
    CommandLine command;
    EXPECT_EQ(ParseCommandLine(arguments, command, true), problem) << Utf8(arguments[0]);
    EXPECT_EQ(command.task.check, check) << Utf8(arguments[0]);
    if (!problem) {
      EXPECT_EQ(command.sources.size(), paths) << Utf8(arguments[0]);
    }
  }
  CommandLine help;
  EXPECT_EQ(ParseCommandLine({"/?"}, help, true), std::nullopt);
  EXPECT_EQ(help.action, CommandLine::Action::kHelp);
  CommandLine on_linux;
  EXPECT_EQ(ParseCommandLine({"/check"}, on_linux, false), std::nullopt) << "a path on Linux";
  EXPECT_FALSE(on_linux.task.check);
}

TEST_F(ConsoleProgramTest, HelpAndVersion) {
  EXPECT_EQ(Run({"-h"}), kCliAsWanted);
  EXPECT_THAT(out_.str(), StartsWith("Usage: "));
  EXPECT_EQ(Run({"-V"}), kCliAsWanted);
  EXPECT_EQ(out_.str(), std::string("ombrix-patch-cli ") + OMBRIX_VERSION_TEXT + "\n");
}

}  // namespace
}  // namespace ombrix
