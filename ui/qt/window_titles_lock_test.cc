// The per-user claim where no window list can be seen: copies started at the same instant, and
// folders that another user made or owns.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "engine/testing/child_process_posix.h"
#include "engine/testing/test_files.h"
#include "ui/qt/window_titles.h"

namespace ombrix::qt {
namespace {

constexpr std::string_view kMarkedTitle = "[_ Ombrix 2000 _| ";

// Sets or unsets an environment variable for the life of a test.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedVariable() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Two copies claim the title at once, again and again: a pipe that both wait to see closed
// starts them together, and each holds what it took until the round ends.
TEST(LockedWindowTitlesTest, OfCopiesClaimingAtTheSameInstantExactlyOneHoldsTheTitle) {
  test::TempFolder folder;
  ::chmod(folder.path().c_str(), 0700);
  for (int round = 0; round < 25; ++round) {
    int start[2], results[2], hold[2];
    ASSERT_EQ(::pipe(start), 0);
    ASSERT_EQ(::pipe(results), 0);
    ASSERT_EQ(::pipe(hold), 0);
    pid_t copies[2];
    for (pid_t& copy : copies) {
      copy = ::fork();
      if (copy == 0) {
        ::close(start[1]);
        ::close(hold[1]);
        char byte = 0;
        (void)::read(start[0], &byte, 1);
        LockedWindowTitles titles({{folder.path().string()}});
        byte = titles.Claim(kMarkedTitle) ? '1' : '0';
        (void)::write(results[1], &byte, 1);
        (void)::read(hold[0], &byte, 1);
        ::_exit(0);
      }
    }
    ::close(start[1]);
    std::string claimed(2, ' ');
    ASSERT_EQ(::read(results[0], &claimed[0], 1), 1);
    ASSERT_EQ(::read(results[0], &claimed[1], 1), 1);
    ::close(hold[1]);
    for (const pid_t copy : copies) ::waitpid(copy, nullptr, 0);
    for (const int fd : {start[0], results[0], results[1], hold[0]}) ::close(fd);
    ASSERT_TRUE(claimed == "10" || claimed == "01") << "round " << round << ": " << claimed;
  }
  LockedWindowTitles after({{folder.path().string()}});
  EXPECT_TRUE(after.Claim(kMarkedTitle)) << "a copy that ended left its claim behind";
  LockedWindowTitles other({{folder.path().string()}});
  EXPECT_FALSE(other.Claim(kMarkedTitle));
  EXPECT_TRUE(other.Claim("[_ Ombrix 2000 _|"));
}

// The Windows program under Wine claims the same file with LockFileEx, which Wine makes a POSIX
// lock: a copy held so keeps the Linux copy out, and lets it in once it ends.
TEST(LockedWindowTitlesTest, PosixLockOfTheWindowsProgramUnderWineStopsTheClaim) {
  test::TempFolder folder;
  ::chmod(folder.path().c_str(), 0700);
  const LockFolder runtime{folder.path().string()};
  const std::string file = runtime.path + "/" + LockFileName(kMarkedTitle, runtime, "");
  int held[2];
  ASSERT_EQ(::pipe(held), 0);
  const pid_t windows_copy = ::fork();
  if (windows_copy == 0) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT, 0600);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    char byte = fd != -1 && ::fcntl(fd, F_SETLK, &whole) == 0 ? '1' : '0';
    (void)::write(held[1], &byte, 1);
    ::pause();  // until the test ends it
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(held[0], &byte, 1), 1);
  ASSERT_EQ(byte, '1');
  EXPECT_FALSE(LockedWindowTitles({runtime}).Claim(kMarkedTitle));
  ::kill(windows_copy, SIGKILL);
  ::waitpid(windows_copy, nullptr, 0);
  ::close(held[0]);
  ::close(held[1]);
  EXPECT_TRUE(LockedWindowTitles({runtime}).Claim(kMarkedTitle));
}

// Copies started with and without XDG_RUNTIME_DIR (su, sudo, a service) still see each other:
// a claim holds a lock in every folder of the user's own, the cache folder among them.
TEST(LockFoldersTest, ClaimHoldsEveryPrivateFolderAndPassesOverOthers) {
  test::TempFolder home;
  ScopedVariable cache("XDG_CACHE_HOME", (home / "cache").c_str());
  std::filesystem::create_directory(home / "runtime");
  ::chmod((home / "runtime").c_str(), 0700);
  ScopedVariable runtime("XDG_RUNTIME_DIR", (home / "runtime").c_str());
  LockedWindowTitles with_runtime(LockFoldersOfThisUser());
  ASSERT_TRUE(with_runtime.Claim(kMarkedTitle));
  {
    ScopedVariable no_runtime("XDG_RUNTIME_DIR", nullptr);
    EXPECT_FALSE(LockedWindowTitles(LockFoldersOfThisUser()).Claim(kMarkedTitle));
  }
  struct stat info {};
  ASSERT_EQ(::stat((home / "cache" / "ombrix-patch").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);

  // A runtime folder others may enter is passed over; the claim stands on the cache folder.
  ::chmod((home / "runtime").c_str(), 0755);
  LockedWindowTitles open_runtime(LockFoldersOfThisUser());
  EXPECT_TRUE(open_runtime.Claim("[_ Ombrix 2000 _|"));
  EXPECT_FALSE(LockedWindowTitles({{(home / "cache" / "ombrix-patch").string(), true}})
                   .Claim("[_ Ombrix 2000 _|"));
}

// Another user makes the folders the tool would use first, in a shared sticky folder: the
// tool says it cannot guard and starts all the same.
TEST(LockFoldersTest, AnotherUsersFoldersNeitherStopNorHoldTheTool) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
  constexpr uid_t kOtherUser = 4001;
  test::TempFolder shared;
  ::chmod(shared.path().c_str(), 01777);
  const std::filesystem::path cache = shared / "cache";
  const std::filesystem::path runtime = shared / "runtime";
  ASSERT_EQ(test::InChildAs(kOtherUser,
                            [&] {
                              ::umask(0);
                              const bool made =
                                  ::mkdir(runtime.c_str(), 0700) == 0 &&
                                  ::mkdir(cache.c_str(), 0777) == 0 &&
                                  ::mkdir((cache / "ombrix-patch").c_str(), 0777) == 0;
                              return made ? 0 : 1;
                            }),
            0);
  ScopedVariable cache_home("XDG_CACHE_HOME", cache.c_str());
  ScopedVariable runtime_dir("XDG_RUNTIME_DIR", runtime.c_str());
  EXPECT_EQ(test::InChild([] { return WindowTitlesFor("wayland")->Claim(kMarkedTitle) ? 0 : 1; }),
            0);
  EXPECT_TRUE(std::filesystem::is_empty(cache / "ombrix-patch")) << "a lock in another's folder";
}

}  // namespace
}  // namespace ombrix::qt
