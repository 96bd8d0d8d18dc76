// The real ombrix-patch-cli on Linux, its standard output closed or full, as a roll-out tool
// that stopped listening leaves it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/console_program.h"
#include "engine/testing/run_program.h"
#include "engine/testing/test_files.h"

extern char** environ;

namespace ombrix {
namespace {

// Runs the program with `out` as its standard output; its exit status, or 128 + the signal
// that ended it.
int RunWritingTo(int out, const std::vector<std::string>& arguments) {
  std::vector<std::string> texts = {test::ProgramBesideTest("ombrix-patch-cli").string()};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, out, 1);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

using ConsoleProgramPosixE2eTest = test::TargetTest;

// The run whose report is lost is finished; no later path is tried; the status says so, as it
// does for help that could not be written.
TEST_F(ConsoleProgramPosixE2eTest, LostReportStopsTheProgramWithItsOwnStatus) {
  const std::filesystem::path second = folder_ / "second.exe";
  int reader_gone[2];
  ASSERT_EQ(::pipe2(reader_gone, O_CLOEXEC), 0);
  ::close(reader_gone[0]);
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  for (const int out : {reader_gone[1], full}) {
    test::WriteBytes(target_, sample_.unpatched);
    test::WriteBytes(second, sample_.unpatched);
    EXPECT_EQ(RunWritingTo(out, {target_.string(), second.string()}), kCliReportLost);
    EXPECT_TRUE(test::SameBytes(test::ReadBytes(target_), sample_.patched));
    EXPECT_TRUE(test::SameBytes(test::ReadBytes(second), sample_.unpatched));
    EXPECT_EQ(RunWritingTo(out, {"--help"}), kCliReportLost);
  }
  ::close(reader_gone[1]);
  ::close(full);
}

}  // namespace
}  // namespace ombrix
