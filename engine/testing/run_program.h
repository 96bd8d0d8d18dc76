// Starting a program of the project as a process of its own, as a user or a deployment tool
// would, and collecting what it wrote and how it ended.
#ifndef OMBRIX_ENGINE_TESTING_RUN_PROGRAM_H_
#define OMBRIX_ENGINE_TESTING_RUN_PROGRAM_H_

#include <filesystem>
#include <string>
#include <vector>

namespace ombrix::test {

struct ProgramResult {
  int exit_code = -1;  // -1 when the program could not be started or did not end normally
  std::string out;     // standard output
  std::string err;     // standard error
};

// Runs `program` with `arguments` and waits for it to end.
ProgramResult RunProgram(const std::filesystem::path& program,
                         const std::vector<std::filesystem::path>& arguments);

// The program `name` built beside the running test ("ombrix-patch-cli" gets ".exe" on
// Windows).
std::filesystem::path ProgramBesideTest(const std::string& name);

}  // namespace ombrix::test

#endif  // OMBRIX_ENGINE_TESTING_RUN_PROGRAM_H_
