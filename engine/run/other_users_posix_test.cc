// What another user can do to a run, and what a run does in folders that several users share:
// a name taken over while the run works, a folder renamed under it, files of other owners and
// groups in shared and sticky folders. Each test acts as root and runs the other user's part,
// or the run itself, in a child process of an ordinary user (InChild).
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "engine/platform/interrupt_cleanup.h"
#include "engine/run/patch_run.h"
#include "engine/run/target_check.h"
#include "engine/testing/child_process_posix.h"
#include "engine/testing/faulty_file_system.h"
#include "engine/testing/test_files.h"

namespace ombrix {
namespace {

using test::FaultyFileSystem;
using test::FileCall;
using test::InChild;
using test::kNobody;
using test::ReadBytes;
using test::SameBytes;
using test::WriteBytes;
using ::testing::ElementsAre;

constexpr gid_t kShared = 4000;  // a group the ordinary user of InChild belongs to
constexpr gid_t kOther = 4001;   // a group it does not

std::string OwnerAndMode(const std::filesystem::path& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) + " " +
         std::to_string(st.st_mode & 07777);
}

class OtherUsersTest : public test::TargetTest {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as two users needs root";
  }
  void Own(const std::filesystem::path& path, uid_t user, gid_t group, mode_t mode) {
    ASSERT_EQ(::chown(path.c_str(), user, group), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
  }
  // The name of the run's new copy, while it exists.
  std::string CopyName() const {
    for (const std::string& name : folder_.Names()) {
      if (name.find(".ombrix-patch-") != std::string::npos) return name;
    }
    return {};
  }
};

// Root patches a file in a folder an ordinary user owns. While the run flushes its new copy,
// the user moves the copy away and puts a FIFO, or a link to a file of root's, under its name.
// The run neither blocks nor follows the link; it renames and removes nothing of theirs and
// says what happened.
TEST_F(OtherUsersTest, CopysNameTakenOverByTheFoldersOwnerStopsTheRunSafely) {
  Own(folder_.path(), kNobody, kNobody, 0755);
  const std::filesystem::path secret = folder_ / "secret";
  for (const bool fifo : {true, false}) {
    WriteBytes(target_, sample_.unpatched);
    WriteBytes(secret, "root's own");
    bool done = false;
    FaultyFileSystem files([&](FileCall call) {
      if (call == "Flush" && !done) {
        done = true;
        const std::string taken = CopyName();
        InChild([&] {
          const std::filesystem::path name = folder_ / taken;
          if (::rename(name.c_str(), (folder_ / "moved").c_str()) != 0) return 1;
          return fifo ? ::mkfifo(name.c_str(), 0666) : ::symlink(secret.c_str(), name.c_str());
        });
      }
      return false;
    });
    const int result = InChild(
        [&] {
          ::alarm(20);  // a run that blocks fails the test instead of hanging it
          try {
            RunPatch(target_, PatchDirection::kApply, {&files});
          } catch (const PatchError& error) {
            return error.code() == PatchErrc::kCopyReplaced ? 0 : 1;
          }
          return 2;
        },
        /*as_ordinary_user=*/false);
    EXPECT_EQ(result, 0) << (fifo ? "FIFO" : "link");
    EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
    EXPECT_EQ(ReadBytes(secret), "root's own");
    const std::string taken = CopyName();
    ASSERT_FALSE(taken.empty());
    EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe", taken, "moved", "secret"));
    EXPECT_EQ(std::filesystem::is_fifo(std::filesystem::symlink_status(folder_ / taken)), fifo);
    EXPECT_EQ(std::filesystem::is_symlink(folder_ / taken), !fifo);
    std::filesystem::remove(folder_ / taken);
    std::filesystem::remove(folder_ / "moved");
  }
}

// The run works in the folder it opened, wherever the folder goes: the file in the renamed
// folder is patched, and nothing is left behind in it.
TEST_F(OtherUsersTest, FolderRenamedDuringTheRunHoldsThePatchedFileAlone) {
  const std::filesystem::path folder = folder_ / "Ombrix";
  std::filesystem::create_directory(folder);
  WriteBytes(folder / "Ombrix.exe", sample_.unpatched);
  bool renamed = false;
  FaultyFileSystem files([&](FileCall call) {
    if (call == "Flush" && !renamed) {
      renamed = true;
      std::filesystem::rename(folder, folder_ / "Renamed");
    }
    return false;
  });
  EXPECT_EQ(RunPatch(folder / "Ombrix.exe", PatchDirection::kApply, {&files}),
            PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(ReadBytes(folder_ / "Renamed" / "Ombrix.exe"), sample_.patched));
  EXPECT_THAT(test::NamesIn(folder_ / "Renamed"), ElementsAre("Ombrix.exe"));
}

// A file of root's that a group may write, in the group's shared folder (set-group-ID, and
// also sticky), patched by a member: no new copy could keep root as its owner, so the file is
// patched in place, and keeps owner, group and mode.
TEST_F(OtherUsersTest, GroupMemberPatchesRootsFileInASharedFolderInPlace) {
  for (const mode_t folder_mode : {02775, 03775}) {
    Own(folder_.path(), 0, kShared, folder_mode);
    WriteBytes(target_, sample_.unpatched);
    Own(target_, 0, kShared, 0664);
    const int outcome =
        InChild([&] { return static_cast<int>(RunPatch(target_)); }, true, {kShared});
    EXPECT_EQ(outcome, static_cast<int>(PatchOutcome::Completed)) << folder_mode;
    EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
    EXPECT_EQ(OwnerAndMode(target_), "0:4000 436") << folder_mode;
    EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
  }
}

// A member of the group, writing root's file in place, is ended by SIGTERM: the old bytes are
// put back, and nothing is said about a file that is whole again (the member may not set the
// file's mode, and need not).
TEST_F(OtherUsersTest, GroupMemberEndedWhileWritingInPlaceLeavesTheFileWhole) {
  Own(folder_.path(), 0, kShared, 02775);
  WriteBytes(target_, sample_.unpatched);
  Own(target_, 0, kShared, 0664);
  const std::filesystem::path said =
      folder_.path().parent_path() / (folder_.path().filename().string() + ".err");
  InChild(
      [&] {
        if (std::freopen(said.c_str(), "w", stderr) == nullptr) return 1;
        CleanUpOnInterrupt();
        int writes = 0;
        FaultyFileSystem files([&](FileCall call) {
          if (call == "WriteAt" && ++writes == 2) ::raise(SIGTERM);
          return false;
        });
        RunPatch(target_, PatchDirection::kApply, {&files});
        return 0;
      },
      true, {kShared});
  EXPECT_EQ(test::LastChildSignal(), SIGTERM);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
  EXPECT_EQ(OwnerAndMode(target_), "0:4000 436");
  EXPECT_EQ(ReadBytes(said), "");
  std::filesystem::remove(said);
}

// The user's own file whose group is one the user is not in, set-group-ID: a new copy could not
// be given that group, and a write in place would clear the set-group-ID bit, which the user
// could not set again. The run changes nothing and says why; --check says so beforehand.
TEST_F(OtherUsersTest, IdentityNoWayCanKeepLeavesTheFileAloneAndSaysWhy) {
  Own(folder_.path(), kNobody, kNobody, 0755);
  WriteBytes(target_, sample_.unpatched);
  Own(target_, kNobody, kOther, 02770);
  const int result = InChild([&] {
    const std::optional<TargetCheck> check = CheckTarget(target_);
    if (!check || check->blocked.code != PatchErrc::kNotKept) return 1;
    try {
      RunPatch(target_);
    } catch (const PatchError& error) {
      const WriteAccess& why = error.failure().access;
      const auto has = [](const std::vector<IdentityLoss>& losses, IdentityPart part) {
        return std::any_of(losses.begin(), losses.end(),
                           [&](const IdentityLoss& loss) { return loss.part == part; });
      };
      return error.code() == PatchErrc::kNotKept &&
                     has(why.copy_would_lose, IdentityPart::kGroup) &&
                     has(why.in_place_would_clear, IdentityPart::kSetGroupId)
                 ? 0
                 : 2;
    }
    return 3;
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
  EXPECT_EQ(OwnerAndMode(target_), "65534:4001 1528");
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

// A running program's file, its owner's, in a folder the owner may not write to: only a write in
// place could patch it, and a running program's file does not open for writing. --check says so
// beforehand, as the run then does.
TEST_F(OtherUsersTest, CheckSaysARunningProgramsFileCannotBeWrittenInPlace) {
  WriteBytes(target_, ReadBytes("/bin/sleep") + sample_.unpatched);
  Own(target_, kNobody, kNobody, 0755);
  const pid_t running = ::fork();
  if (running == 0) {
    ::execl(target_.c_str(), "Ombrix.exe", "30", nullptr);
    ::_exit(127);
  }
  ::usleep(200'000);
  const int result = InChild([&] {
    const std::optional<TargetCheck> check = CheckTarget(target_);
    if (!check || !check->blocked || !InUse(check->blocked.code)) return 1;
    try {
      RunPatch(target_);
    } catch (const PatchError& error) {
      return InUse(error.code()) ? 0 : 2;
    }
    return 3;
  });
  ::kill(running, SIGKILL);
  ::waitpid(running, nullptr, 0);
  EXPECT_EQ(result, 0);
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

// --check as a user who may not write the file: the file would be patched by someone who may,
// but not by this user, and the check says so.
TEST_F(OtherUsersTest, CheckSaysWhenThisUserCouldNotUpdate) {
  WriteBytes(target_, sample_.unpatched);
  Own(target_, 0, 0, 0644);
  const int result = InChild([&] {
    const std::optional<TargetCheck> check = CheckTarget(target_);
    return check && check->kind == TargetKind::kUnpatched && check->blocked &&
                   check->blocked.code == std::errc::permission_denied
               ? 0
               : 1;
  });
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(CheckTarget(target_)->blocked) << "root may";
}

}  // namespace
}  // namespace ombrix
