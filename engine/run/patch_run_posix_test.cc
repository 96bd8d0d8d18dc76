// What a run promises on POSIX systems: links, permissions, owners, special files, limits,
// and folders where no new file can be made.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "engine/platform/file_system.h"
#include "engine/run/patch_run.h"
#include "engine/run/target_check.h"
#include "engine/testing/child_process_posix.h"
#include "engine/testing/faulty_file_system.h"
#include "engine/testing/test_files.h"

namespace ombrix {
namespace {

using test::FaultPlan;
using test::FaultyFileSystem;
using test::FileCall;
using test::InChild;
using test::kNobody;
using test::NamesIn;
using test::ReadBytes;
using test::SameBytes;
using test::TempFolder;
using test::WriteBytes;
using ::testing::ElementsAre;

// Child exit codes for a run's result.
int Code(const std::filesystem::path& path, FileSystem& files = RealFileSystem()) {
  try {
    return static_cast<int>(RunPatch(path, PatchDirection::kApply, {&files}));
  } catch (const PatchError& error) {
    return error.target() == TargetState::kUnchanged ? 10 : 11;
  } catch (...) {
    return 12;
  }
}
constexpr int kInvalid = static_cast<int>(PatchOutcome::InvalidPath);
constexpr int kCompleted = static_cast<int>(PatchOutcome::Completed);
constexpr int kErrorUnchanged = 10;

mode_t Mode(const std::filesystem::path& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

class RunPatchPosixTest : public test::TargetTest {
 protected:
  void SetUp() override { ::chmod(folder_.path().c_str(), 0755); }
  // Makes the folder and the target belong to the ordinary user of InChild.
  void GiveToOrdinaryUser() {
    if (::geteuid() != 0) return;
    ASSERT_EQ(::chown(folder_.path().c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chown(target_.c_str(), kNobody, kNobody), 0);
  }
};

TEST_F(RunPatchPosixTest, SymbolicLinkStaysALinkAndItsTargetIsPatched) {
  std::filesystem::create_directory(folder_ / "real");
  const std::filesystem::path real = folder_ / "real" / "Ombrix.bin";
  WriteBytes(real, sample_.unpatched);
  std::filesystem::create_symlink("real/Ombrix.bin", target_);

  EXPECT_EQ(RunPatch(target_), PatchOutcome::Completed);
  EXPECT_TRUE(std::filesystem::is_symlink(target_));
  EXPECT_EQ(std::filesystem::read_symlink(target_), "real/Ombrix.bin");
  EXPECT_TRUE(SameBytes(ReadBytes(real), sample_.patched));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe", "real"));
}

TEST_F(RunPatchPosixTest, PermissionBitsAndOwnerAreKept) {
  WriteBytes(target_, sample_.unpatched);
  ASSERT_EQ(::chmod(target_.c_str(), 0751), 0);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(target_.c_str(), kNobody, 4321), 0);
  }

  EXPECT_EQ(RunPatch(target_), PatchOutcome::Completed);
  EXPECT_EQ(Mode(target_), 0751u);
  if (::geteuid() == 0) {
    struct stat st;
    ASSERT_EQ(::stat(target_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_gid, 4321u);
  }
}

// Something spoils the new copy after it was written: the read-back notices, and blames the
// disk only for what the run wrote; a copied byte that differs from the file may be the file's
// own change (a write through a memory map leaves no trace in its times).
TEST_F(RunPatchPosixTest, CopyThatReadsBackWrongNeverReplacesTheTarget) {
  const std::pair<std::uint64_t, PatchErrc> spoilt[] = {
      {sample_.replacements[1].offset + 10, PatchErrc::kCopyDiffers},
      {100, PatchErrc::kFileChanged}};
  for (const auto& [at, code] : spoilt) {
    WriteBytes(target_, sample_.unpatched);
    FaultyFileSystem files([&](FileCall call) {
      if (call != "Flush") return false;
      for (const std::string& name : folder_.Names()) {
        if (name == "Ombrix.exe") continue;
        std::fstream copy(folder_ / name, std::ios::in | std::ios::out | std::ios::binary);
        copy.seekp(static_cast<std::streamoff>(at));
        copy.put('!');
      }
      return false;
    });
    try {
      RunPatch(target_, PatchDirection::kApply, {&files});
      ADD_FAILURE() << "no error";
    } catch (const PatchError& error) {
      EXPECT_EQ(error.step(), Step::kReadBack);
      EXPECT_EQ(error.code(), make_error_code(code)) << at;
      EXPECT_EQ(error.target(), TargetState::kUnchanged);
    }
    EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
    EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
  }
}

TEST_F(RunPatchPosixTest, OtherHardLinksKeepTheOldBytes) {
  WriteBytes(target_, sample_.unpatched);
  std::filesystem::create_hard_link(target_, folder_ / "backup.exe");
  EXPECT_EQ(RunPatch(target_), PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
  EXPECT_TRUE(SameBytes(ReadBytes(folder_ / "backup.exe"), sample_.unpatched));
}

TEST_F(RunPatchPosixTest, VeryLongFileNameIsStillReplacedAtomically) {
  const std::filesystem::path target = folder_ / (std::string(250, 'o') + ".exe");
  WriteBytes(target, sample_.unpatched);
  FaultPlan plan;
  EXPECT_EQ(RunPatch(target, PatchDirection::kApply, {&plan}), PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(ReadBytes(target), sample_.patched));
  EXPECT_THAT(plan.calls(), ::testing::Contains("Replace"));
  EXPECT_EQ(folder_.Names().size(), 1u);
}

TEST_F(RunPatchPosixTest, UnreadableFileIsInvalid) {
  WriteBytes(target_, sample_.unpatched);
  ASSERT_EQ(::chmod(target_.c_str(), 0200), 0);
  GiveToOrdinaryUser();
  EXPECT_EQ(InChild([&] { return Code(target_); }), kInvalid);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

TEST_F(RunPatchPosixTest, FileSizeLimitFailsTheRunAndLeavesNoTrace) {
  WriteBytes(target_, sample_.unpatched);
  const int result = InChild(
      [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = sample_.unpatched.size() / 2;
        const struct rlimit fsize = {limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &fsize) != 0) return 101;
        return Code(target_);
      },
      /*as_ordinary_user=*/false);
  EXPECT_EQ(result, kErrorUnchanged);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

// Runs `work` in a child process with a mount namespace of its own, so that it may mount file
// systems that no one else sees; kNoNamespace when the system does not allow it (not root).
constexpr int kNoNamespace = 77;
int InMountNamespace(const std::function<int()>& work) {
  return InChild(
      [&] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0) {
          return kNoNamespace;
        }
        return work();
      },
      /*as_ordinary_user=*/false);
}

// What a failed run left: 0 when the run threw a PatchError, and the target holds its old
// bytes, alone in its folder.
int ErrorLeftTargetAsItWas(const std::filesystem::path& target, const std::string& unpatched,
                           const std::filesystem::path& folder) {
  try {
    RunPatch(target);
    return 1;
  } catch (const PatchError& error) {
    if (error.target() != TargetState::kUnchanged) return 2;
  }
  if (ReadBytes(target) != unpatched) return 3;
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++entries;
  return entries == 1 ? 0 : 4;
}

// A disk without room for a new copy leaves the write in place, which needs none, to patch the
// file, and the run says so; where the file cannot be written in place either, the copy's reason
// stops the run. Either way nothing is left beside the file.
TEST_F(RunPatchPosixTest, FullDiskPatchesInPlaceOrFailsWithTheDisksReason) {
  const int result = InMountNamespace([&] {
    // A file system with room for the target and half a copy of it.
    const std::string size = "size=" + std::to_string(sample_.unpatched.size() * 3 / 2);
    if (::mount("tmpfs", folder_.path().c_str(), "tmpfs", 0, size.c_str()) != 0) return 20;
    WriteBytes(target_, sample_.unpatched);
    FaultyFileSystem no_writer([](FileCall call) { return call == "OpenForWriting"; });
    no_writer.error = std::make_error_code(std::errc::permission_denied);
    try {
      RunPatch(target_, PatchDirection::kApply, {&no_writer});
      return 21;
    } catch (const PatchError& error) {
      if (error.code() != std::errc::no_space_on_device || error.step() != Step::kFillCopy) {
        return 22;
      }
    }
    if (ReadBytes(target_) != sample_.unpatched || NamesIn(folder_.path()).size() != 1) return 23;

    Written written;
    if (RunPatch(target_, PatchDirection::kApply, {}, written) != PatchOutcome::Completed ||
        written.way != WriteWay::kInPlace || written.why != InPlaceReason::kNoRoom) {
      return 24;
    }
    return ReadBytes(target_) == sample_.patched && NamesIn(folder_.path()).size() == 1 ? 0 : 25;
  });
  if (result == kNoNamespace) GTEST_SKIP() << "mounting a small tmpfs needs root";
  EXPECT_EQ(result, 0);
}

// A write in place cut short (the process ends in the middle of it, as a kill or a power cut
// ends it, after the kernel cleared a part of the file's identity) leaves its undo record:
// --check calls the file partly patched, and the next run, either way, finishes it, bytes and
// identity, and forgets the record.
TEST_F(RunPatchPosixTest, WriteInPlaceCutShortIsFinishedFromItsUndoRecord) {
  // No room for a new copy, and an end at the `at`-th call named `call` of the write in place.
  class Ending : public test::FileSystemWrapper {
   public:
    Ending(FileCall call, int at, const std::filesystem::path& target)
        : call_(call), at_(at), target_(target) {}
    std::error_code MakeCopy(const Folder&, const File&, std::uint64_t, NewCopy&) override {
      return std::make_error_code(std::errc::no_space_on_device);
    }
    std::error_code WriteAt(const File& file, std::uint64_t offset, std::span<const char> bytes,
                            std::size_t& count) override {
      EndAt("WriteAt");
      return FileSystemWrapper::WriteAt(file, offset, bytes, count);
    }
    std::error_code Flush(const File& file) override {
      EndAt("Flush");
      return FileSystemWrapper::Flush(file);
    }

   private:
    void EndAt(FileCall call) {
      if (call != call_ || ++calls_ != at_) return;
      // As the kernel clears a capability and the set-user-ID bit.
      ::removexattr(target_.c_str(), "user.origin");
      ::chmod(target_.c_str(), 0755);
      ::_exit(9);
    }
    FileCall call_;
    int at_;
    std::filesystem::path target_;
    int calls_ = 0;
  };
  const struct {
    FileCall call;
    int at;  // text 1 written; every text written but not flushed
    PatchDirection direction;
    const std::string& result;
  } cases[] = {
      {"WriteAt", 2, PatchDirection::kApply, sample_.patched},
      {"WriteAt", 2, PatchDirection::kRestore, sample_.unpatched},
      {"Flush", 1, PatchDirection::kApply, sample_.patched},
  };
  for (const auto& [call, at, direction, result] : cases) {
    WriteBytes(target_, sample_.unpatched);
    if (::setxattr(target_.c_str(), "user.origin", "setup", 5, 0) != 0) {
      GTEST_SKIP() << "no user attributes here";
    }
    ASSERT_EQ(::chmod(target_.c_str(), 04755), 0);
    EXPECT_EQ(InChild(
                  [&] {
                    Ending files(call, at, target_);
                    return Code(target_, files);
                  },
                  false),
              9);
    const std::optional<TargetCheck> check = CheckTarget(target_);
    ASSERT_TRUE(check);
    EXPECT_EQ(check->kind, TargetKind::kPartlyPatched) << call;
    EXPECT_TRUE(check->undo_record) << call;

    Written written;
    EXPECT_EQ(RunPatch(target_, direction, {}, written), PatchOutcome::Completed) << call;
    EXPECT_EQ(written.why, InPlaceReason::kCutShort);
    EXPECT_TRUE(SameBytes(ReadBytes(target_), result)) << call;
    char origin[8] = {};
    EXPECT_EQ(::getxattr(target_.c_str(), "user.origin", origin, sizeof origin), 5) << call;
    EXPECT_EQ(Mode(target_), 04755u) << call;
    EXPECT_FALSE(CheckTarget(target_)->undo_record) << call;
  }
}

TEST_F(RunPatchPosixTest, ReadOnlyMountGivesAnErrorAndLeavesTheTargetAsItWas) {
  WriteBytes(target_, sample_.unpatched);
  const int result = InMountNamespace([&] {
    const char* folder = folder_.path().c_str();
    if (::mount(folder, folder, "none", MS_BIND, nullptr) != 0 ||
        ::mount("none", folder, "none", MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
      return 20;
    }
    return ErrorLeftTargetAsItWas(target_, sample_.unpatched, folder_.path());
  });
  if (result == kNoNamespace) GTEST_SKIP() << "a read-only bind mount needs root";
  EXPECT_EQ(result, 0);
}

// A file that lies only in an overlay's lower layer (a container's image), writable by its
// group: --check copies nothing up; a group member's write in place completes, though its own
// open copies the file up (a new change time), and still tells another program's write after
// that open; root's new copy replaces it as anywhere.
TEST_F(RunPatchPosixTest, FileInAnOverlaysLowerLayerIsCheckedAndPatchedAsAnywhere) {
  constexpr gid_t kGroup = 4001;
  std::string theirs = sample_.unpatched;
  theirs[0] ^= 1;
  const struct {
    const char* what;
    bool check;         // --check rather than a run
    bool as_member;     // as a member of the file's group, who may only write it in place
    bool other_writes;  // another program writes the file once the run opened it for writing
    int result;
    bool copied_up;
    const std::string& bytes;
  } cases[] = {{"check", true, true, false, 0, false, sample_.unpatched},
               {"in place", false, true, false, kCompleted, true, sample_.patched},
               {"written meanwhile", false, true, true, kErrorUnchanged, true, theirs},
               {"new copy", false, false, false, kCompleted, true, sample_.patched}};
  for (const auto& [what, check, as_member, other_writes, expected, copied_up, bytes] : cases) {
    const TempFolder layers;
    for (const char* layer : {"lower", "upper", "work", "merged"}) {
      std::filesystem::create_directory(layers / layer);
    }
    WriteBytes(layers / "lower/Ombrix.exe", sample_.unpatched);
    ASSERT_EQ(::chown((layers / "lower/Ombrix.exe").c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod((layers / "lower/Ombrix.exe").c_str(), 0664), 0);
    const std::filesystem::path target = layers / "merged/Ombrix.exe";
    const int result = InMountNamespace([&] {
      const std::string layout = "lowerdir=" + (layers / "lower").string() +
                                 ",upperdir=" + (layers / "upper").string() +
                                 ",workdir=" + (layers / "work").string();
      if (::mount("overlay", (layers / "merged").c_str(), "overlay", 0, layout.c_str()) != 0) {
        return kNoNamespace;
      }
      bool opened = false;
      FaultyFileSystem files([&](FileCall call) {
        if (other_writes && opened && call == "CheckUnchanged") {
          std::fstream(target, std::ios::in | std::ios::out | std::ios::binary).put(theirs[0]);
        }
        opened = call == "OpenForWriting";
        return false;
      });
      const auto work = [&] {
        if (!check) return Code(target, files);
        const std::optional<TargetCheck> found = CheckTarget(target);
        return found && found->kind == TargetKind::kUnpatched && !found->blocked ? 0 : 1;
      };
      return as_member ? InChild(work, /*as_ordinary_user=*/true, {kGroup}) : work();
    });
    if (result == kNoNamespace) GTEST_SKIP() << "mounting an overlay needs root and overlayfs";
    EXPECT_EQ(result, expected) << what;
    EXPECT_EQ(std::filesystem::exists(layers / "upper/Ombrix.exe"), copied_up) << what;
    EXPECT_TRUE(
        SameBytes(ReadBytes(layers / (copied_up ? "upper" : "lower") / "Ombrix.exe"), bytes))
        << what;
  }
}

TEST_F(RunPatchPosixTest, ImmutableTargetGivesAnErrorAndStaysAsItWas) {
  WriteBytes(target_, sample_.unpatched);
  const auto set_immutable = [&](bool immutable) {
    const int fd = ::open(target_.c_str(), O_RDONLY);
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
  };
  if (!set_immutable(true)) GTEST_SKIP() << "chattr +i needs root and a file system that has it";
  const int result = ErrorLeftTargetAsItWas(target_, sample_.unpatched, folder_.path());
  set_immutable(false);
  EXPECT_EQ(result, 0);
}

TEST_F(RunPatchPosixTest, ReadOnlyFolderWithWritableTargetIsPatchedInPlace) {
  WriteBytes(target_, sample_.unpatched);
  ASSERT_EQ(::chmod(target_.c_str(), 0644), 0);
  GiveToOrdinaryUser();
  ASSERT_EQ(::chmod(folder_.path().c_str(), 0555), 0);

  EXPECT_EQ(InChild([&] { return Code(target_); }), kCompleted);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

TEST_F(RunPatchPosixTest, ReadOnlyFolderAndTargetGiveAnErrorThatSaysSo) {
  WriteBytes(target_, sample_.unpatched);
  ASSERT_EQ(::chmod(target_.c_str(), 0444), 0);
  GiveToOrdinaryUser();
  ASSERT_EQ(::chmod(folder_.path().c_str(), 0555), 0);

  const int result = InChild([&] {
    try {
      RunPatch(target_);
    } catch (const PatchError& error) {
      return error.step() == Step::kChange && error.code() == std::errc::permission_denied ? 0 : 1;
    }
    return 2;
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

// In a folder where no new file can be made, every failing call of the in-place overwrite
// still leaves the old or the new bytes: the overwritten ranges are put back.
TEST_F(RunPatchPosixTest, FailuresWhileOverwritingInPlaceAreUndone) {
  WriteBytes(target_, sample_.unpatched);
  GiveToOrdinaryUser();
  ASSERT_EQ(::chmod(folder_.path().c_str(), 0555), 0);

  for (int fail_at = 1;; ++fail_at) {
    // The child's result: the run's code, plus 100 when no call failed any more.
    const int result = InChild([&] {
      WriteBytes(target_, sample_.unpatched);
      FaultPlan plan(fail_at, FaultPlan::Extent::kThatCall);
      const int code = Code(target_, plan);
      return (plan.failed() ? 0 : 100) + code;
    });
    ASSERT_GE(result, 0) << "call " << fail_at;
    const int code = result % 100;
    const std::string bytes = ReadBytes(target_);
    if (code == kCompleted) {
      EXPECT_TRUE(SameBytes(bytes, sample_.patched)) << "call " << fail_at;
    } else {
      EXPECT_TRUE(SameBytes(bytes, sample_.unpatched)) << "call " << fail_at;
      EXPECT_THAT(code, ::testing::AnyOf(kInvalid, kErrorUnchanged)) << "call " << fail_at;
    }
    EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe")) << "call " << fail_at;
    if (result >= 100) {
      EXPECT_EQ(code, kCompleted);
      break;
    }
  }
}

TEST_F(RunPatchPosixTest, InPlaceFailureThatCannotBeUndoneIsReportedAsSuch) {
  WriteBytes(target_, sample_.unpatched);
  GiveToOrdinaryUser();
  ASSERT_EQ(::chmod(folder_.path().c_str(), 0555), 0);

  // The second write of the overwrite fails, and so does every call after it.
  const int result = InChild([&] {
    int writes = 0;
    FaultyFileSystem files([&](FileCall call) { return call == "WriteAt" && ++writes >= 2; });
    return Code(target_, files);
  });
  EXPECT_EQ(result, 11);
  const std::string bytes = ReadBytes(target_);
  EXPECT_NE(bytes, sample_.unpatched);
  EXPECT_NE(bytes, sample_.patched);
}

}  // namespace
}  // namespace ombrix
