#include "frontend/wine_path.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/testing/test_files.h"

namespace ombrix {
namespace {

// A prefix laid out as Wine lays it out: dosdevices/c: -> ../drive_c, z: -> /.
class WinePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(prefix_ / "drive_c" / "Programfiler" / "Ombrix");
    std::filesystem::create_directories(prefix_ / "dosdevices");
    std::filesystem::create_directory_symlink("../drive_c", prefix_ / "dosdevices" / "c:");
    std::filesystem::create_directory_symlink("/", prefix_ / "dosdevices" / "z:");
    test::WriteBytes(exe_, "x");
  }

  test::TempFolder folder_;
  const std::filesystem::path prefix_ = folder_ / "prefix";
  const std::filesystem::path exe_ = prefix_ / "drive_c" / "Programfiler" / "Ombrix" / "Ombrix.exe";
};

TEST_F(WinePathTest, DefaultPathLeadsIntoTheDriveOfThePrefix) {
  const std::filesystem::path path = LinuxPathOf("C:\\Programfiler\\Ombrix\\Ombrix.exe", prefix_);
  EXPECT_EQ(path, prefix_ / "dosdevices" / "c:" / "Programfiler" / "Ombrix" / "Ombrix.exe");
  EXPECT_TRUE(std::filesystem::equivalent(path, exe_));
}

TEST_F(WinePathTest, LetterCaseAndSeparatorsDoNotMatterWhereTheExactNameIsAbsent) {
  EXPECT_TRUE(std::filesystem::equivalent(
      LinuxPathOf("c:/PROGRAMFILER\\ombrix//OMBRIX.EXE", prefix_), exe_));
}

TEST_F(WinePathTest, NorwegianLettersMatchWithoutRegardToCase) {
  std::filesystem::create_directory(prefix_ / "drive_c" / u8"Ømbrix Æra");
  test::WriteBytes(prefix_ / "drive_c" / u8"Ømbrix Æra" / u8"Går.exe", "x");
  const std::filesystem::path path = LinuxPathOf("C:\\øMBRIX æRA\\gÅR.EXE", prefix_);
  EXPECT_TRUE(std::filesystem::exists(path)) << path;
}

TEST_F(WinePathTest, ExactNameWinsOverOneThatDiffersInCase) {
  test::WriteBytes(prefix_ / "drive_c" / "Programfiler" / "Ombrix" / "ombrix.exe", "y");
  EXPECT_EQ(test::ReadBytes(LinuxPathOf("C:\\Programfiler\\Ombrix\\ombrix.exe", prefix_)), "y");
  EXPECT_EQ(test::ReadBytes(LinuxPathOf("C:\\Programfiler\\Ombrix\\Ombrix.exe", prefix_)), "x");
}

TEST_F(WinePathTest, MissingPartsStayAsTypedSoThePathLeadsNowhere) {
  EXPECT_FALSE(
      std::filesystem::exists(LinuxPathOf("C:\\Programfiler\\Ombrx\\Ombrix.exe", prefix_)));
  EXPECT_FALSE(std::filesystem::exists(LinuxPathOf("D:\\Ombrix.exe", prefix_)));
}

// As the Windows program under Wine reads the same paths.
TEST_F(WinePathTest, ReadsDotsBlanksAndDriveRelativePathsAsWineDoes) {
  test::WriteBytes(prefix_ / "drive_c" / "x.bin", "x");
  const std::filesystem::path x = prefix_ / "drive_c" / "x.bin";
  EXPECT_TRUE(std::filesystem::equivalent(LinuxPathOf("C:\\..\\..\\x.bin", prefix_), x))
      << "a drive's root has no parent";
  EXPECT_TRUE(std::filesystem::equivalent(LinuxPathOf("c:x.bin", prefix_), x))
      << "the drive's current folder, its root";
  for (const char* typed :
       {"C:\\Programfiler\\Ombrix\\Ombrix.exe ", "C:\\Programfiler\\Ombrix\\Ombrix.exe.",
        "C:\\Programfiler. \\Ombrix..\\Ombrix.exe . "}) {
    EXPECT_TRUE(std::filesystem::equivalent(LinuxPathOf(typed, prefix_), exe_)) << typed;
  }
}

TEST_F(WinePathTest, DriveZIsTheLinuxRoot) {
  const std::filesystem::path folder = folder_.path();
  EXPECT_TRUE(std::filesystem::equivalent(
      LinuxPathOf("Z:" + folder.string() + "/prefix/drive_c/Programfiler/Ombrix/Ombrix.exe",
                  prefix_),
      exe_));
}

TEST_F(WinePathTest, OtherPathsAreUsedExactlyAsTyped) {
  EXPECT_EQ(LinuxPathOf("/opt/ombrix/Ombrix.exe", prefix_), "/opt/ombrix/Ombrix.exe");
  EXPECT_EQ(LinuxPathOf("Ombrix.exe ", prefix_), "Ombrix.exe ");
  EXPECT_EQ(LinuxPathOf("", prefix_), "");
  EXPECT_EQ(LinuxPathOf("1:\\x", prefix_), "1:\\x");
  EXPECT_EQ(LinuxPathOf("\\\\server\\share\\Ombrix.exe", prefix_), "\\\\server\\share\\Ombrix.exe");
}

TEST(WinePrefixTest, ComesFromTheEnvironmentElseTheHomeFolder) {
  const char* saved = std::getenv("WINEPREFIX");
  const std::string kept = saved != nullptr ? saved : "";
  ::setenv("WINEPREFIX", "/srv/wine", 1);
  EXPECT_EQ(WinePrefix(), "/srv/wine");
  ::unsetenv("WINEPREFIX");
  EXPECT_EQ(WinePrefix(), std::filesystem::path(std::getenv("HOME")) / ".wine");
  if (saved != nullptr) ::setenv("WINEPREFIX", kept.c_str(), 1);
}

}  // namespace
}  // namespace ombrix
