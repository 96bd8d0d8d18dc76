// The console program's entry on Linux: hands the arguments to the console program.
#include <csignal>
#include <iostream>

#include "cli/console_program.h"
#include "engine/file_system.h"
#include "engine/interrupt_cleanup.h"

int main(int argc, char** argv) {
  ombrix::IgnoreFileSizeLimitSignal();
  // A closed standard output is a failed write to report, not a signal that ends the program.
  std::signal(SIGPIPE, SIG_IGN);
  ombrix::CleanUpOnInterrupt();
  const std::vector<std::filesystem::path> arguments(argv + 1, argv + argc);
  return ombrix::RunConsoleProgram(arguments, std::cin, std::cout, std::cerr);
}
