// The real ombrix-patch-cli, started as a deployment tool would start it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/console_program.h"
#include "engine/testing/run_program.h"
#include "engine/testing/test_files.h"
#include "version.h"

namespace ombrix {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class ConsoleProgramE2eTest : public test::TargetTest {
 protected:
  // Runs the program; line ends are "\n" whatever the platform writes.
  test::ProgramResult RunProgram(const std::vector<std::filesystem::path>& arguments) {
    test::ProgramResult result = test::RunProgram(program_, arguments);
    for (std::string* text : {&result.out, &result.err}) std::erase(*text, '\r');
    return result;
  }

  const std::filesystem::path program_ = test::ProgramBesideTest("ombrix-patch-cli");
};

// Results on standard output and errors on standard error: each stream alone tells all of its
// kind, so a roll-out log keeps either.
TEST_F(ConsoleProgramE2eTest, ResultsAndErrorsGoToTheirOwnStreams) {
  const std::filesystem::path norwegian =
      folder_ / std::filesystem::path(u8"Ømbrix æøå.exe");  // the name reaches the engine whole
  test::WriteBytes(target_, sample_.unpatched);
  test::WriteBytes(norwegian, sample_.unpatched);
  const test::ProgramResult result = RunProgram({target_, folder_ / "missing.exe", norwegian});
  EXPECT_EQ(result.exit_code, kCliInvalidPath);
  EXPECT_THAT(result.out, HasSubstr("Ombrix.exe: patched: Update is complete!\n"));
  EXPECT_THAT(
      result.out,
      HasSubstr(reinterpret_cast<const char*>(u8"Ømbrix æøå.exe: patched: Update is complete!\n")));
  EXPECT_THAT(result.out, Not(HasSubstr("missing.exe")));
  EXPECT_THAT(result.err, HasSubstr("ombrix-patch-cli: "));
  EXPECT_THAT(result.err, HasSubstr("missing.exe: invalid path: "));
  EXPECT_THAT(result.err, Not(HasSubstr("Ombrix.exe")));
  EXPECT_TRUE(test::SameBytes(test::ReadBytes(target_), sample_.patched));
  EXPECT_TRUE(test::SameBytes(test::ReadBytes(norwegian), sample_.patched));

  const test::ProgramResult again = RunProgram({target_, norwegian});
  EXPECT_EQ(again.exit_code, kCliAsWanted);
  EXPECT_THAT(again.out, HasSubstr("Ombrix.exe: already patched: nothing to do\n"));
  EXPECT_EQ(again.err, "");

  const test::ProgramResult restored = RunProgram({"--restore", target_});
  EXPECT_EQ(restored.exit_code, kCliAsWanted);
  EXPECT_TRUE(test::SameBytes(test::ReadBytes(target_), sample_.unpatched));
}

TEST_F(ConsoleProgramE2eTest, CheckVersionAndBadOptions) {
  test::WriteBytes(target_, sample_.patched);
  const test::ProgramResult check = RunProgram({"--check", target_});
  EXPECT_EQ(check.exit_code, kCliAsWanted);
  EXPECT_THAT(check.out, HasSubstr("Ombrix.exe: already patched: nothing to do\n"));

  const test::ProgramResult version = RunProgram({"-V"});
  EXPECT_EQ(version.exit_code, kCliAsWanted);
  EXPECT_EQ(version.out, std::string("ombrix-patch-cli ") + OMBRIX_VERSION_TEXT + "\n");

  const test::ProgramResult bad = RunProgram({"--bogus"});
  EXPECT_EQ(bad.exit_code, kCliUsage);
  EXPECT_EQ(bad.out, "");
  EXPECT_THAT(bad.err, HasSubstr("unknown option '--bogus'"));
}

}  // namespace
}  // namespace ombrix
