#include "engine/run/bad_paths_test.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace ombrix::test {

void PrintTo(const BadPath& path, std::ostream* out) {
  *out << path.kind << " -> ";
  if (!path.outcome) {
    *out << "an error, the file unchanged";
  } else {
    switch (*path.outcome) {
      case PatchOutcome::InvalidPath:
        *out << "InvalidPath";
        break;
      case PatchOutcome::NotApplicable:
        *out << "NotApplicable";
        break;
      case PatchOutcome::Completed:
        *out << "Completed";
        break;
    }
  }
}

namespace {

// Every file in the folder, and its bytes, to tell that a run touched nothing.
std::map<std::filesystem::path, std::string> Contents(const std::filesystem::path& folder) {
  std::map<std::filesystem::path, std::string> contents;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(
           folder, std::filesystem::directory_options::skip_permission_denied)) {
    std::error_code error;
    contents[entry.path()] = entry.is_regular_file(error) && !entry.is_symlink(error)
                                 ? ReadBytes(entry.path())
                                 : std::string("(not a file)");
  }
  return contents;
}

std::vector<BadPath> CommonBadPaths() {
  const auto unpatched = [](const TempFolder& folder, const std::string& name) {
    WriteBytes(folder / name, MakeSampleTarget().unpatched);
    return folder / name;
  };
  return {
      {"missing file", [](const TempFolder& f) { return f / "Ombrix.exe"; }},
      {"empty path", [](const TempFolder&) { return std::filesystem::path(); }},
      {"folder",
       [](const TempFolder& f) {
         std::filesystem::create_directory(f / "Ombrix.exe");
         return f / "Ombrix.exe";
       }},
      {"parent is a file",
       [=](const TempFolder& f) { return unpatched(f, "Ombrix.exe") / "Ombrix.exe"; }},
      {"name too long (300 characters)",
       [](const TempFolder& f) { return f / (std::string(296, 'o') + ".exe"); }},
      {"path too long (40000 characters)",
       [](const TempFolder& f) {
         std::filesystem::path path = f.path();
         for (int i = 0; i < 400; ++i) path /= std::string(99, 'd');
         return path / "Ombrix.exe";
       }},
      {"zero character inside, before which a real target's name ends",
       [=](const TempFolder& f) {
         std::filesystem::path::string_type name = unpatched(f, "Ombrix.exe").native();
         name.push_back(std::filesystem::path::value_type{});
         name += std::filesystem::path("x").native();
         return std::filesystem::path(name);
       }},
      {"missing file with Norwegian letters",
       [](const TempFolder& f) { return f / std::filesystem::path(u8"Ømbrix æøå.exe"); }},
      {"trailing blank", [](const TempFolder& f) { return f / "Ombrix.exe "; }},
      {"trailing dot", [](const TempFolder& f) { return f / "Ombrix.exe."; }},
      {"UNC-looking path",
       [](const TempFolder&) {
         return std::filesystem::path("\\\\nosuchserver\\share\\Ombrix.exe");
       }},
      {"zero-length file",
       [](const TempFolder& f) {
         WriteBytes(f / "Ombrix.exe", "");
         return f / "Ombrix.exe";
       },
       PatchOutcome::NotApplicable},
  };
}

class BadPathTest : public ::testing::TestWithParam<BadPath> {};

TEST_P(BadPathTest, IsAnsweredAndTouchesNothing) {
  TempFolder folder;
  const std::filesystem::path path = GetParam().make(folder);
  const auto before = Contents(folder.path());
  std::optional<PatchOutcome> outcome;
  try {
    outcome = RunPatch(path);
  } catch (const PatchError&) {
  }
  EXPECT_EQ(outcome, GetParam().outcome);
  EXPECT_EQ(Contents(folder.path()), before);
}

std::vector<BadPath> AllBadPaths() {
  std::vector<BadPath> all = CommonBadPaths();
  for (BadPath& path : PlatformBadPaths()) all.push_back(std::move(path));
  return all;
}

INSTANTIATE_TEST_SUITE_P(Kinds, BadPathTest, ::testing::ValuesIn(AllBadPaths()),
                         [](const ::testing::TestParamInfo<BadPath>& param) {
                           std::string name;
                           for (const char c : param.param.kind) {
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                             if (c == ' ' && !name.empty()) name += '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace ombrix::test
