// What the new copy keeps on Linux however it is made (a clone on XFS and btrfs, the kernel's
// copy, a plain copy, an overwrite in place), and what a run survives around it: another
// program replacing the file, an append-only folder, a file the user may not change, Ctrl+C.
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

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <thread>
#include <tuple>

#include "engine/platform/file_system_linux.h"
#include "engine/platform/interrupt_cleanup.h"
#include "engine/run/patch_run.h"
#include "engine/run/target_check.h"
#include "engine/testing/child_process_posix.h"
#include "engine/testing/faulty_file_system.h"
#include "engine/testing/loop_mount_linux.h"
#include "engine/testing/test_files.h"

namespace ombrix {
namespace {

using test::EnglishImage;
using test::FaultyFileSystem;
using test::FileCall;
using test::InChild;
using test::kNobody;
using test::LoopMount;
using test::NorwegianImage;
using test::ReadBytes;
using test::SameBytes;
using test::TempFolder;
using test::WriteBytes;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

// POSIX ACL entries, as the kernel stores them in system.posix_acl_access.
std::string Acl(
    std::initializer_list<std::tuple<std::uint16_t, std::uint16_t, std::uint32_t>> entries) {
  std::string acl("\x02\0\0\0", 4);  // version 2
  for (const auto& [tag, permissions, id] : entries) {
    acl.append(reinterpret_cast<const char*>(&tag), 2);
    acl.append(reinterpret_cast<const char*>(&permissions), 2);
    acl.append(reinterpret_cast<const char*>(&id), 4);
  }
  return acl;
}
constexpr std::uint32_t kNoId = 0xFFFFFFFF;

// Everything a file's identity holds: owner, group, mode and every extended attribute.
std::map<std::string, std::string> IdentityOf(const std::filesystem::path& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  std::map<std::string, std::string> identity = {
      {"mode", std::to_string(st.st_mode & 07777)},
      {"owner", std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid)}};
  char names[4096];
  const ssize_t size = ::listxattr(path.c_str(), names, sizeof(names));
  for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
    char value[4096];
    const ssize_t length = ::getxattr(path.c_str(), names + at, value, sizeof(value));
    identity[names + at] =
        std::string(value, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
  }
  identity.erase("security.selinux");  // the folder's business
  return identity;
}

// Gives `path` an identity with a little of everything, set as a user would, owner first.
void GiveRichIdentity(const std::filesystem::path& path) {
  ASSERT_EQ(::chown(path.c_str(), kNobody, 4321), 0);
  const auto set = [&](const char* name, const std::string& value) {
    ASSERT_EQ(::setxattr(path.c_str(), name, value.data(), value.size(), 0), 0) << name;
  };
  set("user.origin", "made by a test");
  set("trusted.kept", "only root sees this");
  set("system.posix_acl_access",
      Acl({{0x01, 6, kNoId}, {0x02, 4, 1}, {0x04, 5, kNoId}, {0x10, 5, kNoId}, {0x20, 0, kNoId}}));
  // Version 2 file capabilities: CAP_NET_BIND_SERVICE permitted and effective.
  const std::uint32_t capability[5] = {0x02000001, 1u << 10, 0, 0, 0};
  set("security.capability", std::string(reinterpret_cast<const char*>(capability), 20));
  ASSERT_EQ(::chmod(path.c_str(), 06750), 0);
}

enum class Way { kAsTheFileSystemAllows, kPlainCopy, kInPlace };

std::string WayName(Way way) {
  return way == Way::kAsTheFileSystemAllows ? "AsTheFileSystemAllows"
         : way == Way::kPlainCopy           ? "PlainCopy"
                                            : "InPlace";
}

class CopyWaysTest : public ::testing::TestWithParam<std::tuple<std::string, Way>> {
 protected:
  void SetUp() override {
    const std::string& type = std::get<0>(GetParam());
    if (::geteuid() != 0) GTEST_SKIP() << "owners, capabilities and trusted.* need root";
    if (type != "tmp") {
      mount_.emplace(type);
      if (mount_->path().empty()) GTEST_SKIP() << mount_->skipped();
    }
    folder_ = mount_ ? mount_->path() : temp_.path();
    target_ = folder_ / "Ombrix.exe";
  }

  std::optional<LoopMount> mount_;
  TempFolder temp_;
  std::filesystem::path folder_;
  std::filesystem::path target_;
  const test::SampleTarget sample_ = test::MakeSampleTarget();
};

// The bytes, the owner, the mode with its set-ID bits, user.* and trusted.* attributes, the ACL
// and the capability all come through, whichever way the new copy is made, and the clone is
// what XFS and btrfs use.
TEST_P(CopyWaysTest, IdentityAndBytesComeThrough) {
  const auto& [type, way] = GetParam();
  WriteBytes(target_, sample_.unpatched);
  GiveRichIdentity(target_);
  const std::map<std::string, std::string> before = IdentityOf(target_);
  std::vector<FileCall> calls;
  FaultyFileSystem files(
      [&](FileCall call) {
        calls.push_back(call);
        return way == Way::kInPlace && call == "MakeCopy";
      },
      LinuxFileSystem(way == Way::kPlainCopy ? CopyMethods::kPlainOnly : CopyMethods::kBest));
  files.error = std::make_error_code(std::errc::permission_denied);

  EXPECT_EQ(RunPatch(target_, PatchDirection::kApply, {&files}), PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
  EXPECT_EQ(IdentityOf(target_), before);
  EXPECT_THAT(test::NamesIn(folder_), Contains("Ombrix.exe"));
  EXPECT_THAT(test::NamesIn(folder_), Not(Contains(::testing::HasSubstr(".tmp"))));
  if (way == Way::kAsTheFileSystemAllows && type != "tmp") {
    // Cloned: the read-back looks at the written ranges alone, never for stretches of data.
    const auto read_back = std::find(calls.begin(), calls.end(), "OpenForVerifying");
    ASSERT_NE(read_back, calls.end());
    EXPECT_THAT(std::vector<FileCall>(read_back, calls.end()), Not(Contains("FindData")));
  }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, CopyWaysTest,
                         ::testing::Combine(::testing::Values("tmp", "xfs", "btrfs"),
                                            ::testing::Values(Way::kAsTheFileSystemAllows,
                                                              Way::kPlainCopy, Way::kInPlace)),
                         [](const auto& test) {
                           return std::get<0>(test.param) + "_" + WayName(std::get<1>(test.param));
                         });

// What a file system keeps its own way: NTFS through ntfs-3g keeps a file's Windows
// attributes and creation time under names it never lists; a FUSE mount may take an owner and
// keep it not. The run gives the new copy all of it, reads it back, and where a part did not
// take, patches the file in place instead, so that nothing is lost.
TEST(FileSystemIdentityTest, UnlistedAndIgnoredPartsAreKept) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  const test::SampleTarget sample = test::MakeSampleTarget();
  {
    test::LoopMount ntfs("ntfs");
    if (ntfs.path().empty()) GTEST_SKIP() << ntfs.skipped();
    const std::filesystem::path target = ntfs.path() / "Ombrix.exe";
    WriteBytes(target, sample.unpatched);
    const std::string hidden_system("\0\0\0\x26", 4);
    const std::string created("\x01\xd0\0\0\0\0\0\x01", 8);
    ASSERT_EQ(::setxattr(target.c_str(), "system.ntfs_attrib_be", hidden_system.data(), 4, 0), 0);
    ASSERT_EQ(::setxattr(target.c_str(), "system.ntfs_crtime_be", created.data(), 8, 0), 0);
    EXPECT_EQ(RunPatch(target), PatchOutcome::Completed);
    EXPECT_TRUE(SameBytes(ReadBytes(target), sample.patched));
    char value[8];
    EXPECT_EQ(::getxattr(target.c_str(), "system.ntfs_attrib_be", value, 8), 4);
    EXPECT_EQ(std::string(value, 4), hidden_system);
    EXPECT_EQ(::getxattr(target.c_str(), "system.ntfs_crtime_be", value, 8), 8);
    EXPECT_EQ(std::string(value, 8), created);
  }
  test::TempFolder below;
  test::TempFolder above;
  if (std::system(("bindfs --chown-ignore " + below.path().string() + " " + above.path().string() +
                   " 2>/dev/null")
                      .c_str()) != 0) {
    GTEST_SKIP() << "bindfs is missing";
  }
  WriteBytes(below / "Ombrix.exe", sample.unpatched);
  ASSERT_EQ(::chown((below / "Ombrix.exe").c_str(), kNobody, kNobody), 0);
  const PatchOutcome outcome = RunPatch(above / "Ombrix.exe");
  (void)std::system(("umount -l " + above.path().string()).c_str());
  EXPECT_EQ(outcome, PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(ReadBytes(below / "Ombrix.exe"), sample.patched));
  EXPECT_EQ(IdentityOf(below / "Ombrix.exe")["owner"],
            std::to_string(kNobody) + ":" + std::to_string(kNobody));
}

using TargetFilePosixTest = test::TargetTest;

TEST_F(TargetFilePosixTest, SparseFileStaysSparse) {
  for (const bool plain : {false, true}) {
    const std::uint64_t size = std::uint64_t{64} << 20;
    {
      std::ofstream out(target_, std::ios::binary | std::ios::trunc);
      out.seekp(static_cast<std::streamoff>(size / 2));
      out.write(sample_.unpatched.data(), static_cast<std::streamsize>(sample_.unpatched.size()));
    }
    std::filesystem::resize_file(target_, size);
    FileSystem& files = LinuxFileSystem(plain ? CopyMethods::kPlainOnly : CopyMethods::kNoClone);
    EXPECT_EQ(RunPatch(target_, PatchDirection::kApply, {&files}), PatchOutcome::Completed);
    struct stat st;
    ASSERT_EQ(::stat(target_.c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), size);
    EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, size / 8) << "plain: " << plain;
  }
}

// Counts the bytes that reads bring.
class CountingReads : public test::FileSystemWrapper {
 public:
  std::error_code ReadAt(const File& file, std::uint64_t offset, std::span<char> bytes,
                         std::size_t& count) override {
    const std::error_code error = FileSystemWrapper::ReadAt(file, offset, bytes, count);
    read += count;
    return error;
  }
  std::uint64_t read = 0;
};

// A sparse file of 10 GiB whose texts lie past 4 GiB, at the edges of its holes: the check, the
// run and the restore each read its data and no more, and leave it as sparse as it was.
TEST_F(TargetFilePosixTest, SparseFileIsReadByItsDataAlone) {
  const std::uint64_t size = std::uint64_t{10} << 30;
  const std::uint64_t far = (std::uint64_t{4} << 30) + (1 << 20);
  // The first text's last byte, a zero, is the first of a hole; the second starts a stretch of
  // data after a hole; the third lies in the last block.
  const std::string first = EnglishImage(0).substr(0, EnglishImage(0).size() - 1);
  const std::vector<std::pair<std::uint64_t, std::string>> texts = {
      {far - first.size(), first},
      {far + (1 << 30), EnglishImage(1)},
      {size - 4000, EnglishImage(2)}};
  {
    std::ofstream out(target_, std::ios::binary | std::ios::trunc);
    for (const auto& [at, text] : texts) {
      out.seekp(static_cast<std::streamoff>(at));
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
  }
  std::filesystem::resize_file(target_, size);
  const auto blocks = [&] {
    struct stat st;
    EXPECT_EQ(::stat(target_.c_str(), &st), 0);
    return static_cast<std::uint64_t>(st.st_blocks) * 512;
  };
  const std::uint64_t allocated = blocks();
  ASSERT_LT(allocated, size / 1024) << "no sparse files here";

  CountingReads files;
  const std::optional<TargetCheck> before = CheckTarget(target_, {&files});
  ASSERT_TRUE(before);
  EXPECT_EQ(before->kind, TargetKind::kUnpatched);
  EXPECT_EQ(before->pairs[0].english, texts[0].first);
  EXPECT_EQ(RunPatch(target_, PatchDirection::kApply, {&files}), PatchOutcome::Completed);
  EXPECT_EQ(CheckTarget(target_, {&files})->kind, TargetKind::kPatched);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    std::string now(texts[i].second.size(), '\0');
    std::ifstream in(target_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(texts[i].first));
    in.read(now.data(), static_cast<std::streamsize>(now.size()));
    EXPECT_TRUE(SameBytes(now, NorwegianImage(i).substr(0, now.size()))) << "text " << i;
  }
  EXPECT_EQ(RunPatch(target_, PatchDirection::kRestore, {&files}), PatchOutcome::Completed);
  EXPECT_EQ(CheckTarget(target_, {&files})->kind, TargetKind::kUnpatched);
  EXPECT_EQ(std::filesystem::file_size(target_), size);
  EXPECT_LE(blocks(), allocated + (1 << 20));
  EXPECT_LT(files.read, std::uint64_t{16} << 20);  // three checks, a run and a restore
}

// As `cp -p other t.new && touch -r t t.new && mv t.new t` while the run writes its copy: the
// same length and time of change, but another file.
TEST_F(TargetFilePosixTest, FileReplacedMeanwhileByAnotherOfTheSameSizeAndTimeIsKept) {
  WriteBytes(target_, sample_.unpatched);
  std::string theirs = sample_.unpatched;
  theirs[0] ^= 1;
  bool replaced = false;
  FaultyFileSystem files([&](FileCall call) {
    if (call == "Flush" && !replaced) {
      replaced = true;
      const std::filesystem::path other = folder_ / "t.new";
      WriteBytes(other, theirs);
      struct stat st;
      ::stat(target_.c_str(), &st);
      const struct timespec times[2] = {st.st_atim, st.st_mtim};
      ::utimensat(AT_FDCWD, other.c_str(), times, 0);
      std::filesystem::rename(other, target_);
    }
    return false;
  });
  try {
    RunPatch(target_, PatchDirection::kApply, {&files});
    ADD_FAILURE() << "no error";
  } catch (const PatchError& error) {
    EXPECT_EQ(error.code(), make_error_code(PatchErrc::kFileChanged));
  }
  EXPECT_TRUE(SameBytes(ReadBytes(target_), theirs));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

TEST_F(TargetFilePosixTest, AppendOnlyFolderIsPatchedInPlaceAndKeepsNoCopy) {
  WriteBytes(target_, sample_.unpatched);
  const auto set_append_only = [&](bool on) {
    const int fd = ::open(folder_.path().c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
  };
  if (!set_append_only(true)) GTEST_SKIP() << "chattr +a needs root and a file system that has it";
  const PatchOutcome outcome = RunPatch(target_);
  set_append_only(false);
  EXPECT_EQ(outcome, PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

TEST_F(TargetFilePosixTest, FileTheUserMayNotChangeIsNotReplacedThoughTheFolderIsOpen) {
  if (::geteuid() != 0) GTEST_SKIP() << "a file of root's needs root";
  WriteBytes(target_, sample_.unpatched);
  ASSERT_EQ(::chmod(target_.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(folder_.path().c_str(), 0777), 0);
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
  EXPECT_EQ(IdentityOf(target_)["owner"], "0:0");
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe"));
}

// An ordinary user's new copy would take the folder's set-group-ID group: the file keeps its
// own, which the user belongs to.
TEST_F(TargetFilePosixTest, OrdinaryUserKeepsTheFilesGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving files to another user needs root";
  WriteBytes(target_, sample_.unpatched);
  ASSERT_EQ(::chown(folder_.path().c_str(), 0, 4000), 0);
  ASSERT_EQ(::chmod(folder_.path().c_str(), 02777), 0);
  ASSERT_EQ(::chown(target_.c_str(), kNobody, 4001), 0);
  ASSERT_EQ(::chmod(target_.c_str(), 0664), 0);
  EXPECT_EQ(InChild([&] { return static_cast<int>(RunPatch(target_)); }, true, {4001}),
            static_cast<int>(PatchOutcome::Completed));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.patched));
  EXPECT_EQ(IdentityOf(target_)["owner"], std::to_string(kNobody) + ":4001");
}

// Every signal that ends the program removes the new copy, or puts back what a write in place
// changed, and then ends it as it would have; also when another thread of the program is the
// one that receives it (the Qt window has several).
TEST_F(TargetFilePosixTest, SignalThatEndsTheProgramLeavesTheFileWholeAndNoCopy) {
  enum class By { kCopy, kInPlace, kOtherThread };
  for (const By way : {By::kCopy, By::kInPlace, By::kOtherThread}) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU,
                             SIGVTALRM, SIGPROF, SIGPWR, SIGRTMIN + 3}) {
      const std::string context =
          "way " + std::to_string(static_cast<int>(way)) + ", signal " + std::to_string(signal);
      WriteBytes(target_, sample_.unpatched);
      InChild(
          [&] {
            // A core file of SIGQUIT's would only litter the folder the tests run in.
            const struct rlimit no_core = {0, 0};
            ::setrlimit(RLIMIT_CORE, &no_core);
            // As the signal would end a program started plainly: the tests may have been started
            // to ignore it (nohup), which the clean-up rightly leaves as it is.
            ::signal(signal, SIG_DFL);
            CleanUpOnInterrupt();
            int writes = 0;
            FaultyFileSystem files([&](FileCall call) {
              if (call == "WriteAt" && ++writes == 2) {
                if (way == By::kOtherThread) {
                  std::thread([signal] { ::pthread_kill(::pthread_self(), signal); }).join();
                } else {
                  ::raise(signal);
                }
              }
              // In place: as in a folder where no new file may be made.
              return way == By::kInPlace && call == "MakeCopy";
            });
            files.error = std::make_error_code(std::errc::permission_denied);
            RunPatch(target_, PatchDirection::kApply, {&files});
            return 0;
          },
          /*as_ordinary_user=*/false);
      EXPECT_EQ(test::LastChildSignal(), signal) << context;
      EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched)) << context;
      EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe")) << context;
    }
  }
}

// chattr flags come through the new copy: ext4's no-dump, synchronous and no-access-time,
// btrfs's no-copy-on-write, which a file can only take while it is empty, and XFS's project ID.
TEST_F(TargetFilePosixTest, ChattrFlagsAreKept) {
  const auto flags_of = [](const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    int flags = 0;
    ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
    struct fsxattr project {};
    ::ioctl(fd, FS_IOC_FSGETXATTR, &project);
    ::close(fd);
    return std::to_string(flags) + " project " + std::to_string(project.fsx_projid);
  };
  for (const auto& [type, flags] :
       {std::pair<std::string, int>{"ext4", FS_NODUMP_FL | FS_SYNC_FL | FS_NOATIME_FL},
        std::pair<std::string, int>{"btrfs", FS_NOCOW_FL | FS_NODUMP_FL},
        std::pair<std::string, int>{"xfs", FS_NODUMP_FL}}) {
    LoopMount mount(type);
    if (mount.path().empty()) GTEST_SKIP() << mount.skipped();
    const std::filesystem::path target = mount.path() / "Ombrix.exe";
    {
      const int fd = ::open(target.c_str(), O_RDWR | O_CREAT, 0755);
      int set = 0;
      ::ioctl(fd, FS_IOC_GETFLAGS, &set);
      set |= flags;
      ASSERT_EQ(::ioctl(fd, FS_IOC_SETFLAGS, &set), 0) << type;
      if (type == "xfs") {
        struct fsxattr project {};
        ::ioctl(fd, FS_IOC_FSGETXATTR, &project);
        project.fsx_projid = 42;
        ASSERT_EQ(::ioctl(fd, FS_IOC_FSSETXATTR, &project), 0);
      }
      ::close(fd);
    }
    std::fstream(target, std::ios::in | std::ios::out | std::ios::binary)
        .write(sample_.unpatched.data(), static_cast<std::streamsize>(sample_.unpatched.size()));
    const std::string before = flags_of(target);
    ASSERT_NE(before, flags_of(mount.path())) << type;
    EXPECT_EQ(RunPatch(target), PatchOutcome::Completed) << type;
    EXPECT_TRUE(SameBytes(ReadBytes(target), sample_.patched)) << type;
    EXPECT_EQ(flags_of(target), before) << type;
  }
}

// A folder with a default ACL gives every new file an ACL: the copy of a file that has none
// must not keep it. XFS shows root the ACL twice (system.posix_acl_access and
// trusted.SGI_ACL_FILE), and removing the one removes the other.
TEST_F(TargetFilePosixTest, FolderDefaultAclIsNotGivenToAFileWithout) {
  const std::string default_acl =
      Acl({{0x01, 7, kNoId}, {0x02, 5, 1}, {0x04, 5, kNoId}, {0x10, 5, kNoId}, {0x20, 5, kNoId}});
  for (const std::string type : {"tmp", "xfs", "btrfs"}) {
    std::optional<LoopMount> mount;
    if (type != "tmp") {
      mount.emplace(type);
      if (mount->path().empty()) GTEST_SKIP() << mount->skipped();
    }
    const std::filesystem::path folder = mount ? mount->path() : folder_.path();
    if (::setxattr(folder.c_str(), "system.posix_acl_default", default_acl.data(),
                   default_acl.size(), 0) != 0) {
      GTEST_SKIP() << "no ACLs on " << type;
    }
    const std::filesystem::path target = folder / "Ombrix.exe";
    WriteBytes(target, sample_.unpatched);
    ::removexattr(target.c_str(), "system.posix_acl_access");
    ::chmod(target.c_str(), 0755);
    const std::map<std::string, std::string> before = IdentityOf(target);
    EXPECT_EQ(RunPatch(target), PatchOutcome::Completed) << type;
    EXPECT_EQ(IdentityOf(target), before) << type;
    std::filesystem::remove(target);
  }
}

// On ext4 with 128-byte inodes a file's times have whole seconds: another program's write in
// the same second as the run's look leaves them as they were. The run still tells it from a
// failing disk.
TEST_F(TargetFilePosixTest, ChangeInTheSameSecondIsAnotherProgramsNotTheDisks) {
  LoopMount mount("ext4", "-I 128");
  if (mount.path().empty()) GTEST_SKIP() << mount.skipped();
  const std::filesystem::path target = mount.path() / "Ombrix.exe";
  WriteBytes(target, sample_.unpatched);
  std::string theirs = sample_.unpatched;
  theirs[1] ^= 1;
  bool changed = false;
  FaultyFileSystem files([&](FileCall call) {
    if (call == "Flush" && !changed) {
      changed = true;
      std::fstream(target, std::ios::in | std::ios::out | std::ios::binary)
          .put(theirs[0])
          .put(theirs[1]);
    }
    return false;
  });
  try {
    RunPatch(target, PatchDirection::kApply, {&files});
    ADD_FAILURE() << "no error";
  } catch (const PatchError& error) {
    EXPECT_EQ(error.code(), make_error_code(PatchErrc::kFileChanged));
  }
  EXPECT_TRUE(SameBytes(ReadBytes(target), theirs));
  EXPECT_THAT(test::NamesIn(mount.path()), ElementsAre("Ombrix.exe", "lost+found"));
}

// A write in place clears a set-user-ID bit; the owner's run gives it back, also where the run
// fails (a write, or giving the bit back, fails once) or a signal ends it: "unchanged" is true of
// the mode as well as the bytes.
TEST_F(TargetFilePosixTest, WriteInPlaceThatFailsOrIsInterruptedGivesBackTheSetUserIdBit) {
  if (::geteuid() != 0) GTEST_SKIP() << "a file of another user's needs root";
  ASSERT_EQ(::chmod(folder_.path().c_str(), 0755), 0);  // root's: no new copy for nobody
  enum class Cut { kWriteFails, kGivingBackFails, kSignal };
  for (const Cut cut : {Cut::kWriteFails, Cut::kGivingBackFails, Cut::kSignal}) {
    WriteBytes(target_, sample_.unpatched);
    ASSERT_EQ(::chown(target_.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(target_.c_str(), 04755), 0);
    const int result = InChild([&] {
      CleanUpOnInterrupt();
      int writes = 0;
      int given = 0;
      FaultyFileSystem files([&](FileCall call) {
        if (call == "WriteAt" && ++writes == 2 && cut == Cut::kSignal) ::raise(SIGTERM);
        return (cut == Cut::kWriteFails && call == "WriteAt" && writes == 2) ||
               (cut == Cut::kGivingBackFails && call == "SetIdentity" && ++given == 1);
      });
      try {
        RunPatch(target_, PatchDirection::kApply, {&files});
      } catch (const PatchError& error) {
        return error.target() == TargetState::kUnchanged ? 0 : 1;
      }
      return 2;
    });
    const int context = static_cast<int>(cut);
    EXPECT_EQ(result, cut == Cut::kSignal ? -1 : 0) << context;
    EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched)) << context;
    EXPECT_EQ(IdentityOf(target_)["mode"], std::to_string(04755)) << context;
  }
}

// Two runs writing one file in place at once would each leave the other's work half done: a run
// finds the file locked and changes nothing.
TEST_F(TargetFilePosixTest, FileLockedByAnotherWriterInPlaceIsLeftAlone) {
  WriteBytes(target_, sample_.unpatched);
  const int held = ::open(target_.c_str(), O_RDWR);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  ASSERT_EQ(::fcntl(held, F_OFD_SETLK, &lock), 0);
  FaultyFileSystem files([](FileCall call) { return call == "MakeCopy"; });
  files.error = std::make_error_code(std::errc::permission_denied);
  try {
    RunPatch(target_, PatchDirection::kApply, {&files});
    ADD_FAILURE() << "no error";
  } catch (const PatchError& error) {
    EXPECT_EQ(error.code(), make_error_code(PatchErrc::kLocked));
  }
  ::close(held);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

// In a folder where no new file can be made, writes beyond a file-size limit fail before they
// change anything: the error says the file is unchanged, because it is.
TEST_F(TargetFilePosixTest, InPlaceFailureThatChangedNothingSaysTheFileIsUnchanged) {
  WriteBytes(target_, sample_.unpatched);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(folder_.path().c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chown(target_.c_str(), kNobody, kNobody), 0);
  }
  ASSERT_EQ(::chmod(folder_.path().c_str(), 0555), 0);
  const int result = InChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit fsize = {1000, 1000};  // below every text's offset
    if (::setrlimit(RLIMIT_FSIZE, &fsize) != 0) return 101;
    try {
      RunPatch(target_);
    } catch (const PatchError& error) {
      return error.target() == TargetState::kUnchanged ? 0 : 1;
    }
    return 2;
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

// Errors that say what really happened.
TEST_F(TargetFilePosixTest, ErrorsNameWhatHappened) {
  const auto code_of = [](const std::filesystem::path& path, FileSystem& files) {
    try {
      RunPatch(path, PatchDirection::kApply, {&files});
    } catch (const PatchError& error) {
      return error.code();
    }
    return std::error_code();
  };
  // Another program removes the file while the copy is written.
  WriteBytes(target_, sample_.unpatched);
  FaultyFileSystem removing([&](FileCall call) {
    if (call == "Flush") std::filesystem::remove(target_);
    return false;
  });
  EXPECT_EQ(code_of(target_, removing), make_error_code(PatchErrc::kFileRemoved));
  EXPECT_TRUE(folder_.Names().empty());

  // A file of /proc: its length says 0 bytes, yet it reads more.
  FaultyFileSystem real([](FileCall) { return false; });
  EXPECT_EQ(code_of("/proc/self/environ", real), make_error_code(PatchErrc::kLengthUntrue));

  // A file deleted before the run, still open: it has no name to be patched under.
  WriteBytes(target_, sample_.unpatched);
  const int open = ::open(target_.c_str(), O_RDONLY);
  std::filesystem::remove(target_);
  EXPECT_EQ(code_of("/proc/self/fd/" + std::to_string(open), real),
            make_error_code(PatchErrc::kDeleted));
  ::close(open);

  // Another program renames a file over the name while the run patches the old one in place:
  // the file at the path is not called patched.
  WriteBytes(target_, sample_.unpatched);
  bool replaced = false;
  FaultyFileSystem renaming([&](FileCall call) {
    if (call == "Flush" && !replaced) {
      replaced = true;
      WriteBytes(folder_ / "new", sample_.unpatched);
      std::filesystem::rename(folder_ / "new", target_);
    }
    return call == "MakeCopy";
  });
  renaming.error = std::make_error_code(std::errc::permission_denied);
  try {
    RunPatch(target_, PatchDirection::kApply, {&renaming});
    ADD_FAILURE() << "no error";
  } catch (const PatchError& error) {
    EXPECT_EQ(error.step(), Step::kStillNamed);
  }
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched));
}

// A short link in a folder whose absolute path is longer than the system takes: the file it
// names is patched, found relative to the link's own folder.
TEST_F(TargetFilePosixTest, LinkInAFolderDeeperThanPathMaxIsFollowed) {
  // Made, entered and removed a step at a time: the whole path is too long to name at once.
  const std::string part(200, 'd');
  const int depth = PATH_MAX / 200 + 2;
  const std::filesystem::path here = std::filesystem::current_path();
  ASSERT_EQ(::chdir(folder_.path().c_str()), 0);
  for (int i = 0; i < depth; ++i) {
    ASSERT_EQ(::mkdir(part.c_str(), 0755), 0);
    ASSERT_EQ(::chdir(part.c_str()), 0);
  }
  WriteBytes("Ombrix-1.2.exe", sample_.unpatched);
  ASSERT_EQ(::symlink("Ombrix-1.2.exe", "Ombrix.exe"), 0);
  const PatchOutcome outcome = RunPatch("Ombrix.exe");
  const std::string bytes = ReadBytes("Ombrix-1.2.exe");
  const bool link = std::filesystem::is_symlink("Ombrix.exe");
  ::unlink("Ombrix.exe");
  ::unlink("Ombrix-1.2.exe");
  for (int i = 0; i < depth; ++i) {
    ASSERT_EQ(::chdir(".."), 0);
    ASSERT_EQ(::rmdir(part.c_str()), 0);
  }
  std::filesystem::current_path(here);
  EXPECT_EQ(outcome, PatchOutcome::Completed);
  EXPECT_TRUE(SameBytes(bytes, sample_.patched));
  EXPECT_TRUE(link);
}

// A file bind-mounted over the target's name: no rename replaces a mount point, so the file
// shown there is patched in place, and --check says beforehand that it would be.
TEST_F(TargetFilePosixTest, FileThatIsAMountPointIsPatchedInPlace) {
  WriteBytes(target_, sample_.unpatched);
  WriteBytes(folder_ / "other.exe", sample_.unpatched);
  const int result = InChild(
      [&] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount((folder_ / "other.exe").c_str(), target_.c_str(), "none", MS_BIND, nullptr) !=
                0) {
          return 77;
        }
        if (CheckTarget(target_)->blocked) return 1;
        return RunPatch(target_) == PatchOutcome::Completed && ReadBytes(target_) == sample_.patched
                   ? 0
                   : 2;
      },
      /*as_ordinary_user=*/false);
  if (result == 77) GTEST_SKIP() << "a bind mount needs root";
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(SameBytes(ReadBytes(folder_ / "other.exe"), sample_.patched));
  EXPECT_TRUE(SameBytes(ReadBytes(target_), sample_.unpatched)) << "not mounted out here";
  EXPECT_THAT(folder_.Names(), ElementsAre("Ombrix.exe", "other.exe"));
}

}  // namespace
}  // namespace ombrix
